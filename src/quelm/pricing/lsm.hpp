// Longstaff-Schwartz least-squares Monte Carlo for American options under geometric
// Brownian motion: antithetic log-price paths, a quadratic in moneyness regressed on
// the in-the-money paths at each exercise date. Times in years.
#pragma once

#include <cstdint>

#include "quelm/core/cancel.hpp"
#include "quelm/core/error.hpp"
#include "quelm/pricing/option.hpp"

namespace quelm::pricing {

struct LsmSettings {
    std::uint64_t paths;
    std::uint64_t steps;  // exercise dates, expiry included
    std::uint64_t seed;
};

[[nodiscard]] Result<PriceEstimate> lsm_american(const OptionContract& o, const MarketInputs& m,
                                                 const LsmSettings& s, Cancel& cancel = never_cancel());

}  // namespace quelm::pricing

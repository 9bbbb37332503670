// European Monte Carlo under geometric Brownian motion with continuous dividend yield:
// terminal prices only, antithetic pairs, one random stream per pair index.
// Times in years, rates and yields continuously compounded.
#pragma once

#include <cstdint>

#include "quelm/core/cancel.hpp"
#include "quelm/core/error.hpp"
#include "quelm/pricing/option.hpp"

namespace quelm::pricing {

struct MonteCarloSettings {
    std::uint64_t paths;
    std::uint64_t seed;
};

// The vanilla checks, then paths >= 1: the checks every Monte Carlo engine runs first.
[[nodiscard]] Status validate_monte_carlo(const OptionContract& o, const MarketInputs& m, std::uint64_t paths);

[[nodiscard]] Result<PriceEstimate> monte_carlo_european(const OptionContract& o, const MarketInputs& m,
                                                         const MonteCarloSettings& s, Cancel& cancel = never_cancel());

}  // namespace quelm::pricing

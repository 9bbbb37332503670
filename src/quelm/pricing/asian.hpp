// Average-price (fixed-strike) Asian calls and puts on geometric Brownian motion:
// the continuous geometric closed form and an antithetic Monte Carlo of the
// arithmetic average over n equally spaced fixings.
#pragma once

#include <cstdint>
#include <string_view>

#include "quelm/core/cancel.hpp"
#include "quelm/core/error.hpp"
#include "quelm/pricing/option.hpp"
#include "quelm/core/text.hpp"

namespace quelm::pricing {

enum class AverageType : unsigned char { Geometric, Arithmetic };

// "geometric"/"geo" or "arithmetic"/"arith" after lower-casing.
inline constexpr Choices<AverageType, 4> kAverageTypes{
    "average", Listing::Quoted,
    {{{"geometric", AverageType::Geometric}, {"geo", AverageType::Geometric},
      {"arithmetic", AverageType::Arithmetic}, {"arith", AverageType::Arithmetic}}}};

struct AsianSettings {
    std::uint64_t n_fixings;  // equally spaced, the last at expiry
    std::uint64_t paths;
    std::uint64_t seed;
};

[[nodiscard]] Result<double> geometric_asian_price(const OptionContract& o, const MarketInputs& m);

[[nodiscard]] Result<PriceEstimate> arithmetic_asian_price(const OptionContract& o, const MarketInputs& m,
                                                           const AsianSettings& s, Cancel& cancel = never_cancel());

}  // namespace quelm::pricing

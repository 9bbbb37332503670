// Bachelier (normal) model: European options on a forward that may be negative, with a
// normal volatility (price units per sqrt(year)), discounted by e^(-rate t); and the normal
// volatility implied by a price (P. Jaeckel, "Implied normal volatility", 2017).
#pragma once

#include "quelm/core/error.hpp"
#include "quelm/pricing/option.hpp"

namespace quelm::pricing {

// Validates vol >= 0 and t >= 0 (forward and strike take any sign; NaN passes and gives NaN).
[[nodiscard]] Result<double> bachelier(double forward, double strike, double rate, double vol, double t,
                                       OptionType type);

// Requires t > 0 and a price at or above the discounted intrinsic value (1e-12 below it
// tolerated, giving 0); there is no upper bound.
[[nodiscard]] Result<double> bachelier_implied_volatility(double price, double forward, double strike, double rate,
                                                          double t, OptionType type);

}  // namespace quelm::pricing

// Black-76: European options on a forward or futures price, discounted by e^(-rate t),
// and the volatility implied by a price. Forward and strike in price units, rate
// continuously compounded, vol annual (lognormal), t in years.
#pragma once

#include "quelm/core/error.hpp"
#include "quelm/pricing/option.hpp"

namespace quelm::pricing {

// Validates strike > 0, forward >= 0, vol >= 0, t >= 0 (in that order; NaN passes and
// gives NaN). t = 0 gives the intrinsic value; vol = 0 the discounted intrinsic value.
[[nodiscard]] Result<double> black76(double forward, double strike, double rate, double vol, double t,
                                     OptionType type);

// Requires strike > 0, forward > 0, t > 0, and the price inside the no-arbitrage bounds
// [e^(-rt) max(+-(F - K), 0), e^(-rt) F or K) (1e-12 below the lower one tolerated, giving 0).
[[nodiscard]] Result<double> black76_implied_volatility(double price, double forward, double strike, double rate,
                                                        double t, OptionType type);

}  // namespace quelm::pricing

// The rebates of continuously monitored single barriers under Black-Scholes-Merton dynamics
// (Reiner and Rubinstein, 1991; Haug, "The Complete Guide to Option Pricing Formulas", 4.17):
// the probability that the spot never touches the barrier before expiry, a rebate paid at
// expiry when it never did (a knock-in's), and one paid at the touch (a knock-out's). The
// barrier is unbreached (below the spot when down, above it when up); vol > 0, t > 0.
#pragma once

#include "quelm/core/error.hpp"
#include "quelm/pricing/option.hpp"

namespace quelm::pricing {

// Under the pricing measure: N(eta x) - (H / S)^(2 mu) N(eta y), eta = +1 down, -1 up,
// x = (ln(S / H) + mu sigma^2 t) / (sigma sqrt t), y = x - 2 ln(S / H) / (sigma sqrt t).
[[nodiscard]] double no_touch_probability(const MarketInputs& m, double t, bool down, double barrier);

// A rebate of 1 paid at expiry if the barrier was never touched: e^(-r t) times the above.
[[nodiscard]] double rebate_at_expiry(const MarketInputs& m, double t, bool down, double barrier);

// A rebate of 1 paid when the barrier is touched. It needs mu^2 + 2 r / sigma^2 >= 0 (any
// rate >= 0); a numerical error otherwise.
[[nodiscard]] Result<double> rebate_at_touch(const MarketInputs& m, double t, bool down, double barrier);

}  // namespace quelm::pricing

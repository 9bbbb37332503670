// Heston's stochastic-volatility model priced semi-analytically: Lewis's single integral
// over the characteristic function (in the form free of the branch-cut discontinuity) with a
// Black-Scholes control variate, on a Gauss-Legendre rule. Times in years; rates and
// dividend yields continuously compounded; v0 and theta are variances (vol squared).
#pragma once

#include <span>

#include "quelm/core/cancel.hpp"
#include "quelm/core/error.hpp"
#include "quelm/pricing/option.hpp"

namespace quelm::volatility {

struct HestonParams {
    double v0;     // initial variance
    double kappa;  // mean-reversion speed of the variance
    double theta;  // long-run variance
    double xi;     // volatility of the variance
    double rho;    // correlation of the price and variance shocks
};

// v0 >= 0, kappa > 0, theta >= 0, xi >= 0, rho in [-1, 1] (NaN passes each).
[[nodiscard]] Status validate_heston(const HestonParams& p);

// The market of one expiry: spot, rate, dividend yield and time to expiry.
struct HestonMarket {
    double spot, rate, dividend_yield, t;
};

// One European option. Checks strike > 0, spot >= 0, t >= 0, then the parameters. Finite
// inputs give a finite price (its limit where a discount factor or the forward leaves the
// doubles) or a numerical error where the price itself overflows; never NaN.
[[nodiscard]] Result<double> heston_price(const HestonMarket& m, double strike, OptionType type,
                                          const HestonParams& p);

// A chain of strikes at one expiry, the characteristic function evaluated once per node and
// shared by every strike: out[i] prices (strikes[i], types[i]) with the bits of heston_price
// for that option alone (a strike's quadrature rule depends on its own log-moneyness only;
// the chain builds each rule's nodes once, and each thread keeps its last few so that one
// strike at a time shares them too). Fails with an argument error when the three spans
// differ in length; polls `cancel` between strikes.
[[nodiscard]] Status heston_prices(const HestonMarket& m, std::span<const double> strikes,
                                   std::span<const OptionType> types, const HestonParams& p, std::span<double> out,
                                   Cancel& cancel = never_cancel());

}  // namespace quelm::volatility

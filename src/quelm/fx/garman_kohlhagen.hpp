// Garman-Kohlhagen: a European FX option is a Black-Scholes-Merton option whose dividend
// yield is the foreign rate. Spot and strike in domestic units per foreign unit, rates
// continuously compounded, vol annual, t in years; prices in domestic units per foreign unit.
#pragma once

#include "quelm/core/error.hpp"
#include "quelm/pricing/option.hpp"

namespace quelm::fx {

// An FX market for one expiry.
struct FxMarket {
    double spot;
    double domestic_rate;
    double foreign_rate;
    double vol;
    double t;
};

// The outright forward S e^((rd - rf) t).
[[nodiscard]] double forward_of(const FxMarket& m);

// black_scholes's checks (strike > 0, spot >= 0, vol >= 0, t >= 0); NaN passes.
[[nodiscard]] Result<double> garman_kohlhagen(const FxMarket& m, double strike, OptionType type);

// spot >= 0, t >= 0.
[[nodiscard]] Result<double> fx_forward(double spot, double t, double domestic_rate, double foreign_rate);

// The price and its sensitivities. The four deltas per unit of foreign notional: spot
// (dV/dS), forward (dV/dF / e^(-rd t)) and their premium-adjusted forms (less the premium in
// foreign units, V / S). vega per unit of vol, theta per year of calendar time, the two rhos
// per unit of rate.
struct FxGreeks {
    double price;
    double spot_delta, forward_delta, spot_delta_pa, forward_delta_pa;
    double gamma, vega, theta;
    double rho_domestic, rho_foreign;
    double vanna, volga;
};

// spot > 0 (a premium-adjusted delta divides by it), then garman_kohlhagen's checks.
[[nodiscard]] Result<FxGreeks> fx_greeks(const FxMarket& m, double strike, OptionType type);

}  // namespace quelm::fx

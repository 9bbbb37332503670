// Higher-order Black-Scholes-Merton Greeks in closed form, with a continuous dividend
// yield, in the units of `analytic_greeks`: per unit of spot and of volatility (not per
// point), time derivatives per year of calendar time (d/dt = -d/dT, as theta).
#pragma once

#include "quelm/core/error.hpp"
#include "quelm/pricing/option.hpp"

namespace quelm::greeks {

struct HigherGreeks {
    double vanna;   // d2V / dS dsigma
    double volga;   // d2V / dsigma2
    double charm;   // d delta / dt
    double veta;    // d vega / dt
    double speed;   // d gamma / dS
    double zomma;   // d gamma / dsigma
    double color;   // d gamma / dt
    double ultima;  // d3V / dsigma3
};

// Same validation as black_scholes (NaN passes and gives NaN). At zero spot, expiry or
// volatility every one is 0, except charm at zero volatility: the in-the-money delta
// +-e^(-qT) still decays with the dividend yield (+-q e^(-qT)). A volatility so small that
// the density at d1 underflows gives those same limits; at the money, where some of them
// diverge as the volatility vanishes, the result is that limit (+-inf), never NaN.
[[nodiscard]] Result<HigherGreeks> higher_greeks(const OptionContract& contract, const MarketInputs& market);

}  // namespace quelm::greeks

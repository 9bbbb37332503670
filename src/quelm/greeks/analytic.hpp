// Closed-form Black-Scholes-Merton Greeks with continuous dividend yield.
// vega and rho per unit (not per percentage point); theta per year of calendar time.
#pragma once

#include "quelm/core/error.hpp"
#include "quelm/core/option.hpp"

namespace quelm::greeks {

struct Greeks {
    double delta;
    double gamma;
    double vega;
    double theta;
    double rho;
};

// Same validation as pricing::black_scholes; degenerate spot/expiry/vol give
// a limiting delta and zero for the other four.
[[nodiscard]] Result<Greeks> analytic_greeks(const OptionContract& contract, const MarketInputs& market);

// The formulas once the terms are known (spot, vol, t > 0): sqrt(t), the discount factors,
// d1, the exponential e1 that Phi(+-d1) computed (NaN if none), n1 = Phi(+-d1) and
// n2 = Phi(+-d2), minus for a put.
[[nodiscard]] Greeks greeks_of(const VanillaTerms& v, double sqrt_t, double dr, double dq, double d1, double e1,
                               double n1, double n2);

}  // namespace quelm::greeks

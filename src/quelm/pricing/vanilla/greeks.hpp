// Closed-form Black-Scholes-Merton Greeks with continuous dividend yield.
// vega and rho per unit (not per percentage point); theta per year of calendar time.
#pragma once

#include "quelm/core/error.hpp"
#include "quelm/pricing/option.hpp"

namespace quelm::greeks {

struct Greeks {
    double delta;
    double gamma;
    double vega;
    double theta;
    double rho;
};

// Same validation as pricing::black_scholes; degenerate spot/expiry/vol give
// a limiting delta and zero for the other four. Every other input goes through the
// vanilla kernel (pricing/vanilla/vanilla_lanes.hpp).
[[nodiscard]] Result<Greeks> analytic_greeks(const OptionContract& contract, const MarketInputs& market);

}  // namespace quelm::greeks

// Black-Scholes-Merton closed-form price of a European call or put with a
// continuous dividend yield, with explicit limits for zero expiry, spot and vol.
#pragma once

#include "quelm/core/error.hpp"
#include "quelm/core/math/distributions.hpp"
#include "quelm/core/option.hpp"

namespace quelm::pricing {

// Validates strike > 0, spot >= 0, vol >= 0, expiry >= 0 (in that order; NaN passes).
[[nodiscard]] Result<double> black_scholes(const OptionContract& contract, const MarketInputs& market);

// The formula itself once the discount factors and d1, d2 are known (spot, vol, t > 0).
[[nodiscard]] inline double black_scholes_terms(bool call, double s, double k, double dr, double dq, D12 d) {
    if (call) return s * dq * normal_cdf(d.d1) - k * dr * normal_cdf(d.d2);
    return k * dr * normal_cdf(-d.d2) - s * dq * normal_cdf(-d.d1);
}

}  // namespace quelm::pricing

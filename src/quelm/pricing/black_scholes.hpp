// Black-Scholes-Merton closed-form price of a European call or put with a
// continuous dividend yield, with explicit limits for zero expiry, spot and vol.
#pragma once

#include "quelm/core/error.hpp"
#include "quelm/core/math/distributions.hpp"
#include "quelm/core/option.hpp"

namespace quelm::pricing {

// Validates strike > 0, spot >= 0, vol >= 0, expiry >= 0 (in that order; NaN passes).
[[nodiscard]] Result<double> black_scholes(const OptionContract& contract, const MarketInputs& market);

// The formula from n1 = Phi(+-d1) and n2 = Phi(+-d2), minus for a put.
[[nodiscard]] inline double black_scholes_of_phi(bool call, double s, double k, double dr, double dq, double n1,
                                                 double n2) {
    return call ? s * dq * n1 - k * dr * n2 : k * dr * n2 - s * dq * n1;
}

// The formula itself once the discount factors and d1, d2 are known (spot, vol, t > 0).
// `e1`, when given, receives e^(-d1^2/2) as Phi computed it (NaN if it did not).
[[nodiscard]] inline double black_scholes_terms(bool call, double s, double k, double dr, double dq, D12 d,
                                                double* e1 = nullptr) {
    const CdfAndExp n1 = normal_cdf_and_exp(call ? d.d1 : -d.d1);
    if (e1 != nullptr) *e1 = n1.e;
    return black_scholes_of_phi(call, s, k, dr, dq, n1.cdf, normal_cdf(call ? d.d2 : -d.d2));
}

}  // namespace quelm::pricing

#include "quelm/greeks/analytic.hpp"

#include <cmath>

#include "quelm/core/math/distributions.hpp"
#include "quelm/core/math/elementary.hpp"

namespace quelm::greeks {

Result<Greeks> analytic_greeks(const OptionContract& contract, const MarketInputs& market) {
    const VanillaTerms terms = vanilla_terms(contract, market);
    const auto [s, k, t, r, q, sigma, call] = terms;

    QUELM_CHECK(validate_vanilla(k, s, sigma, t));
    if (any_nan(market, k, t)) return Greeks{kNaN, kNaN, kNaN, kNaN, kNaN};

    if (s == 0.0 || t == 0.0 || sigma == 0.0) {
        double delta = 0.0;
        if (t == 0.0) {
            if (call) delta = s > k ? 1.0 : 0.0;
            else delta = s < k ? -1.0 : 0.0;
        } else if (s != 0.0) {  // sigma == 0 with a positive spot
            const double dq = discount_factor(q, t);
            const double forward = s * quelm::exp((r - q) * t);
            if (call) delta = forward > k ? dq : 0.0;
            else delta = forward < k ? -dq : 0.0;
        }
        return Greeks{delta, 0.0, 0.0, 0.0, 0.0};
    }

    const double sqrt_t = std::sqrt(t);
    const double dr = discount_factor(r, t);
    const double dq = discount_factor(q, t);
    const auto [d1, d2] = lognormal_d12(s, k, r, q, sigma, t);
    const CdfAndExp c1 = normal_cdf_and_exp(call ? d1 : -d1);
    return greeks_of(terms, sqrt_t, dr, dq, d1, c1.e, c1.cdf, normal_cdf(call ? d2 : -d2));
}

Greeks greeks_of(const VanillaTerms& v, double sqrt_t, double dr, double dq, double d1, double e1, double n1,
                 double n2) {
    const auto [s, k, t, r, q, sigma, call] = v;
    // Phi(+-d1) computed e^(-d1^2/2) on the way: the density at d1 divides it by sqrt(2 pi)
    // as normal_pdf would, with the same bits and one exponential fewer.
    const double pdf1 = std::isnan(e1) ? normal_pdf(d1) : normal_pdf_of_exp(e1);
    const double decay = -s * dq * pdf1 * sigma / (2.0 * sqrt_t);
    Greeks g{};
    if (call) {
        g.delta = dq * n1;
        g.theta = decay - r * k * dr * n2 + q * s * dq * n1;
        g.rho = k * t * dr * n2;
    } else {
        g.delta = -dq * n1;
        g.theta = decay + r * k * dr * n2 - q * s * dq * n1;
        g.rho = -k * t * dr * n2;
    }
    g.gamma = dq * pdf1 / (s * sigma * sqrt_t);
    g.vega = s * dq * pdf1 * sqrt_t;
    return g;
}

}  // namespace quelm::greeks

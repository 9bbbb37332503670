#include "quelm/pricing/vanilla/higher_greeks.hpp"

#include <cmath>

#include "quelm/core/math/distributions.hpp"
#include "quelm/core/math/elementary.hpp"
#include "quelm/pricing/vanilla/vanilla_lanes.hpp"

namespace quelm::greeks {

Result<HigherGreeks> higher_greeks(const OptionContract& contract, const MarketInputs& market) {
    const auto [s, k, t, r, q, sigma, call] = vanilla_terms(contract, market);
    QUELM_CHECK(validate_vanilla(k, s, sigma, t));
    if (any_nan(market, k, t)) return HigherGreeks{kNaN, kNaN, kNaN, kNaN, kNaN, kNaN, kNaN, kNaN};
    HigherGreeks g{};
    if (s == 0.0 || t == 0.0) return g;
    const double dq = discount_factor(q, t);
    if (sigma == 0.0) {
        const double forward = s * quelm::exp((r - q) * t);
        if (call && forward > k) g.charm = q * dq;
        if (!call && forward < k) g.charm = -q * dq;
        return g;
    }
    const double sqrt_t = std::sqrt(t);
    const double v = sigma * sqrt_t;
    const VanillaLanes<double> in = vanilla_lanes(contract, market);
    const VanillaAt<double> m = vanilla_at(vanilla_setup(in), sigma, in.theta);
    const double d1 = m.d1;
    const double d2 = m.d2;
    const double pdf = normal_pdf_of_exp(m.e1);
    const double vega = s * dq * pdf * sqrt_t;
    const double gamma = dq * pdf / (s * v);
    // d(d1)/dt and d(d2)/dt in calendar time (minus their derivatives in T).
    const double drift = (2.0 * (r - q) * t - d2 * v) / (2.0 * t * v);
    const double n1 = m.n1;
    if (pdf == 0.0) {
        // So small a total vol that the density at d1 underflows: every term it scales has
        // reached its limit 0 (the density's decay outruns the powers of 1 / v beside it,
        // which would overflow to inf * 0), and the delta's dividend decay is what is left,
        // as at zero volatility.
        g.charm = call ? q * dq * n1 : -q * dq * n1;
        return g;
    }
    g.vanna = -dq * pdf * d2 / sigma;
    g.volga = vega * d1 * d2 / sigma;
    g.charm = (call ? q * dq * n1 : -q * dq * n1) - dq * pdf * drift;
    g.veta = vega * (q + (r - q) * d1 / v - (1.0 + d1 * d2) / (2.0 * t));
    g.speed = -gamma / s * (d1 / v + 1.0);
    g.zomma = gamma * (d1 * d2 - 1.0) / sigma;
    g.color = dq * pdf / (2.0 * s * t * v) * (2.0 * q * t + 1.0 + (2.0 * (r - q) * t - d2 * v) / v * d1);
    g.ultima = -vega / (sigma * sigma) * (d1 * d2 * (1.0 - d1 * d2) + d1 * d1 + d2 * d2);
    if (!std::isfinite(g.ultima)) {
        // sigma^2 underflowed at the money (d1 = -d2 = v/2 nearly): with a = (d1 + d2) / 2 the
        // bracket over sigma^2 is (3a^2 - a^4) / sigma^2 + t/4 + a^2 t/2 - sigma^2 t^2 / 16, whose
        // only term that can grow without bound does so alone (its limit -vega t / 4 at a = 0).
        const double a = (d1 + d2) / 2.0;
        const double a2 = a * a;
        g.ultima = -vega * ((3.0 * a2 - a2 * a2) / sigma / sigma + t / 4.0 + a2 * t / 2.0 - sigma * sigma * t * t / 16.0);
    }
    return g;
}

}  // namespace quelm::greeks

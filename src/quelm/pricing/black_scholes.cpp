#include "quelm/pricing/black_scholes.hpp"

#include <cmath>

#include "quelm/core/math/distributions.hpp"

namespace quelm::pricing {

Result<double> black_scholes(const OptionContract& contract, const MarketInputs& market) {
    const auto [s, k, t, r, q, sigma, call] = vanilla_terms(contract, market);

    QUELM_CHECK(validate_vanilla(k, s, sigma, t));
    if (any_nan(market, k, t)) return kNaN;

    if (t == 0.0) return payoff(contract.option_type, s, k);
    const double dr = std::exp(-r * t);
    const double dq = std::exp(-q * t);
    if (s == 0.0) return call ? 0.0 : k * dr;
    if (sigma == 0.0) {
        const double forward = s * std::exp((r - q) * t);
        return dr * payoff(contract.option_type, forward, k);
    }
    const auto [d1, d2] = lognormal_d12(s, k, r, q, sigma, t);
    if (call) return s * dq * normal_cdf(d1) - k * dr * normal_cdf(d2);
    return k * dr * normal_cdf(-d2) - s * dq * normal_cdf(-d1);
}

}  // namespace quelm::pricing

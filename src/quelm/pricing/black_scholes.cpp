#include "quelm/pricing/black_scholes.hpp"

#include <cmath>

#include "quelm/core/math/distributions.hpp"

namespace quelm::pricing {

Result<double> black_scholes(const OptionContract& contract, const MarketInputs& market) {
    const double s = market.spot;
    const double k = contract.strike;
    const double t = contract.expiry;
    const double r = market.rate;
    const double q = market.dividend_yield;
    const double sigma = market.vol;
    const bool call = contract.option_type == OptionType::Call;

    QUELM_CHECK(validate_vanilla(k, s, sigma, t));

    if (t == 0.0) return payoff(contract.option_type, s, k);
    const double dr = std::exp(-r * t);
    const double dq = std::exp(-q * t);
    if (s == 0.0) return call ? 0.0 : k * dr;
    if (sigma == 0.0) {
        const double forward = s * std::exp((r - q) * t);
        return dr * payoff(contract.option_type, forward, k);
    }
    const double sqrt_t = std::sqrt(t);
    const double d1 = (std::log(s / k) + (r - q + sigma * sigma / 2.0) * t) / (sigma * sqrt_t);
    const double d2 = d1 - sigma * sqrt_t;
    if (call) return s * dq * normal_cdf(d1) - k * dr * normal_cdf(d2);
    return k * dr * normal_cdf(-d2) - s * dq * normal_cdf(-d1);
}

}  // namespace quelm::pricing

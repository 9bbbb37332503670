#include "quelm/pricing/binomial.hpp"

#include <chrono>
#include <cmath>
#include <vector>

#include "quelm/core/sizes.hpp"

namespace quelm::pricing {

namespace {

// x^0, x^1, ..., x^n by repeated multiplication.
std::vector<double> power_table(double x, std::size_t n) {
    std::vector<double> p(checked_add(n, 1));
    p[0] = 1.0;
    for (std::size_t k = 1; k <= n; ++k) p[k] = x * p[k - 1];
    return p;
}

}  // namespace

Result<double> binomial(OptionType type, ExerciseStyle style, const MarketInputs& m, std::uint64_t steps,
                        double strike, double expiry, Cancel& cancel) {
    const double S = m.spot, K = strike, T = expiry, r = m.rate, q = m.dividend_yield, sigma = m.vol;
    QUELM_CHECK(validate_vanilla(K, S, sigma, T));
    if (steps == 0) return invalid("steps must be >= 1");
    if (T == 0.0) return payoff(type, S, K);
    if (sigma == 0.0) {
        const double F = S * std::exp((r - q) * T);
        const double european = std::exp(-r * T) * payoff(type, F, K);
        if (style == ExerciseStyle::European) return european;
        const double now = payoff(type, S, K);
        return european > now ? european : now;
    }
    const double n_f = static_cast<double>(steps);
    const double dt = T / n_f;
    const double u = std::exp(sigma * std::sqrt(dt));
    const double d = 1.0 / u;
    const double disc = std::exp(-r * dt);
    const double p = 0.5 + (r - q - sigma * sigma / 2.0) * std::sqrt(dt) / (2.0 * sigma);
    if (p < 0.0 || p > 1.0) return numerical("binomial: risk-neutral probability outside [0,1] (check inputs/steps)");

    const std::size_t n = checked_count(steps);
    const std::vector<double> pow_d = power_table(d, n);
    const std::vector<double> pow_u2 = power_table(u * u, n);
    std::vector<double> V(checked_add(n, 1));
    const double base = S * pow_d[n];
    for (std::size_t j = 0; j <= n; ++j) V[j] = payoff(type, base * pow_u2[j], K);
    const bool american = style == ExerciseStyle::American;
    const double q1 = 1.0 - p;
    auto last_poll = std::chrono::steady_clock::now();
    for (std::size_t i = n; i-- > 0;) {
        const double row = S * pow_d[i];
        for (std::size_t j = 0; j <= i; ++j) {
            const double c = disc * (p * V[j + 1] + q1 * V[j]);
            if (american) {
                const double ex = payoff(type, row * pow_u2[j], K);
                V[j] = c > ex ? c : ex;
            } else {
                V[j] = c;
            }
        }
        if ((i & 63) == 0) {
            const auto now = std::chrono::steady_clock::now();
            if (now - last_poll > std::chrono::milliseconds(5)) {
                last_poll = now;
                if (cancel.poll()) return numerical("interrupted");
            }
        }
    }
    return V[0];
}

}  // namespace quelm::pricing

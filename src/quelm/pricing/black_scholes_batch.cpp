#include "quelm/pricing/black_scholes_batch.hpp"

#include <cmath>

#include "quelm/core/math/distributions.hpp"

namespace quelm::pricing {

void black_scholes_block(const VanillaBlock& b, double* out, bool* done) {
    constexpr std::size_t B = kBlackScholesBlock;
    const std::size_t n = b.n;
    bool plain[B];
    for (std::size_t i = 0; i < n; ++i) {
        plain[i] = std::isfinite(b.spot[i]) && std::isfinite(b.strike[i]) && std::isfinite(b.rate[i]) &&
                   std::isfinite(b.vol[i]) && std::isfinite(b.expiry[i]) && std::isfinite(b.dividend_yield[i]) &&
                   b.spot[i] > 0.0 && b.strike[i] > 0.0 && b.vol[i] > 0.0 && b.expiry[i] > 0.0;
        done[i] = false;
    }
    // The C library's calls, one option after another: independent, so they overlap.
    double log_moneyness[B], sqrt_t[B], dr[B], dq[B];
    for (std::size_t i = 0; i < n; ++i) {
        if (!plain[i]) continue;
        log_moneyness[i] = std::log(b.spot[i] / b.strike[i]);
        sqrt_t[i] = std::sqrt(b.expiry[i]);
        dr[i] = discount_factor(b.rate[i], b.expiry[i]);
        dq[i] = discount_factor(b.dividend_yield[i], b.expiry[i]);
    }
    // d1 and d2, as lognormal_d12_from forms them; Phi's arguments are +-d for a put.
    double x1[B], x2[B], e1[B], e2[B];
    for (std::size_t i = 0; i < n; ++i) {
        if (!plain[i]) continue;
        const double sigma = b.vol[i], t = b.expiry[i];
        const double drift = (b.rate[i] - b.dividend_yield[i] + sigma * sigma / 2.0) * t;
        const double d1 = (log_moneyness[i] + drift) / (sigma * sqrt_t[i]);
        const double d2 = d1 - sigma * sqrt_t[i];
        const bool call = b.type[i] == OptionType::Call;
        x1[i] = call ? d1 : -d1;
        x2[i] = call ? d2 : -d2;
        plain[i] = std::isfinite(drift);
    }
    for (std::size_t i = 0; i < n; ++i) {
        if (!plain[i]) continue;
        e1[i] = normal_cdf_exp(x1[i]);
        e2[i] = normal_cdf_exp(x2[i]);
    }
    for (std::size_t i = 0; i < n; ++i) {
        if (!plain[i]) continue;
        const double n1 = normal_cdf_given_exp(x1[i], e1[i]);
        const double n2 = normal_cdf_given_exp(x2[i], e2[i]);
        const double s = b.spot[i], k = b.strike[i];
        out[i] = b.type[i] == OptionType::Call ? s * dq[i] * n1 - k * dr[i] * n2 : k * dr[i] * n2 - s * dq[i] * n1;
        done[i] = true;
    }
}

}  // namespace quelm::pricing

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
    // d1, d2 and Phi's arguments |+-d|, as lognormal_d12_from and normal_cdf form them.
    double d1[B], d2[B], e1[B], e2[B];
    for (std::size_t i = 0; i < n; ++i) {
        if (!plain[i]) continue;
        const double sigma = b.vol[i], t = b.expiry[i];
        const double drift = (b.rate[i] - b.dividend_yield[i] + sigma * sigma / 2.0) * t;
        d1[i] = (log_moneyness[i] + drift) / (sigma * sqrt_t[i]);
        d2[i] = d1[i] - sigma * sqrt_t[i];
        plain[i] = std::isfinite(drift) && std::fabs(d1[i]) < detail::kCdfRational &&
                   std::fabs(d2[i]) < detail::kCdfRational;
    }
    for (std::size_t i = 0; i < n; ++i) {
        if (!plain[i]) continue;
        const double a1 = std::fabs(d1[i]), a2 = std::fabs(d2[i]);
        e1[i] = std::exp(-a1 * a1 / 2.0);
        e2[i] = std::exp(-a2 * a2 / 2.0);
    }
    // Phi(+-d1), Phi(+-d2) from the rational form, and the price.
    for (std::size_t i = 0; i < n; ++i) {
        if (!plain[i]) continue;
        const bool call = b.type[i] == OptionType::Call;
        const double x1 = call ? d1[i] : -d1[i], x2 = call ? d2[i] : -d2[i];
        const double a1 = std::fabs(x1), a2 = std::fabs(x2);
        const double c1 = e1[i] * detail::horner(detail::kCdfNum, a1) / detail::horner(detail::kCdfDen, a1);
        const double c2 = e2[i] * detail::horner(detail::kCdfNum, a2) / detail::horner(detail::kCdfDen, a2);
        const double n1 = x1 > 0.0 ? 1.0 - c1 : c1;
        const double n2 = x2 > 0.0 ? 1.0 - c2 : c2;
        const double s = b.spot[i], k = b.strike[i];
        out[i] = call ? s * dq[i] * n1 - k * dr[i] * n2 : k * dr[i] * n2 - s * dq[i] * n1;
        done[i] = true;
    }
}

}  // namespace quelm::pricing

#include "quelm/core/vanilla_block.hpp"

#include <cmath>

#include "quelm/core/math/distributions.hpp"
#include "quelm/core/math/elementary.hpp"

namespace quelm {

void lognormal_terms(const VanillaBlock& b, LognormalTerms& m) {
    const std::size_t n = b.n;
    for (std::size_t i = 0; i < n; ++i) {
        m.plain[i] = std::isfinite(b.spot[i]) && std::isfinite(b.strike[i]) && std::isfinite(b.rate[i]) &&
                     std::isfinite(b.vol[i]) && std::isfinite(b.expiry[i]) && std::isfinite(b.dividend_yield[i]) &&
                     b.spot[i] > 0.0 && b.strike[i] > 0.0 && b.vol[i] > 0.0 && b.expiry[i] > 0.0;
    }
    // The C library's calls, one option after another: independent, so they overlap.
    double log_moneyness[kVanillaBlock];
    for (std::size_t i = 0; i < n; ++i) {
        if (!m.plain[i]) continue;
        log_moneyness[i] = quelm::log(b.spot[i] / b.strike[i]);
        m.sqrt_t[i] = std::sqrt(b.expiry[i]);
        m.dr[i] = discount_factor(b.rate[i], b.expiry[i]);
        m.dq[i] = discount_factor(b.dividend_yield[i], b.expiry[i]);
    }
    // d1 and d2 as lognormal_d12_from forms them (its split form, for an infinite drift, is
    // left to the one-by-one call), and Phi's arguments.
    double x1[kVanillaBlock], x2[kVanillaBlock], e2[kVanillaBlock];
    for (std::size_t i = 0; i < n; ++i) {
        if (!m.plain[i]) continue;
        const double sigma = b.vol[i], t = b.expiry[i];
        const double drift = (b.rate[i] - b.dividend_yield[i] + sigma * sigma / 2.0) * t;
        m.d1[i] = (log_moneyness[i] + drift) / (sigma * m.sqrt_t[i]);
        m.d2[i] = m.d1[i] - sigma * m.sqrt_t[i];
        const bool call = b.type[i] == OptionType::Call;
        x1[i] = call ? m.d1[i] : -m.d1[i];
        x2[i] = call ? m.d2[i] : -m.d2[i];
        m.plain[i] = std::isfinite(drift);
    }
    for (std::size_t i = 0; i < n; ++i) {
        if (!m.plain[i]) continue;
        m.e1[i] = normal_cdf_exp(x1[i]);
        e2[i] = normal_cdf_exp(x2[i]);
    }
    for (std::size_t i = 0; i < n; ++i) {
        if (!m.plain[i]) continue;
        m.n1[i] = normal_cdf_given_exp(x1[i], m.e1[i]);
        m.n2[i] = normal_cdf_given_exp(x2[i], e2[i]);
    }
}

}  // namespace quelm

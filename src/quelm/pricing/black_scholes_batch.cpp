#include "quelm/pricing/black_scholes_batch.hpp"

#include "quelm/core/math/distributions.hpp"

namespace quelm::pricing {

void black_scholes_block(const VanillaBlock& b, double* out, bool* done) {
    LognormalTerms m;
    lognormal_terms(b, m);
    for (std::size_t i = 0; i < b.n; ++i) {
        done[i] = m.plain[i];
        if (!m.plain[i]) continue;
        const double n1 = normal_cdf_given_exp(m.x1[i], m.e1[i]);
        const double n2 = normal_cdf_given_exp(m.x2[i], m.e2[i]);
        const double s = b.spot[i], k = b.strike[i];
        out[i] = b.type[i] == OptionType::Call ? s * m.dq[i] * n1 - k * m.dr[i] * n2
                                               : k * m.dr[i] * n2 - s * m.dq[i] * n1;
    }
}

}  // namespace quelm::pricing

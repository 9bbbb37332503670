#include "quelm/pricing/black_scholes_batch.hpp"

namespace quelm::pricing {

void black_scholes_block(const VanillaBlock& b, double* out, bool* done) {
    LognormalTerms m;
    lognormal_terms(b, m);
    for (std::size_t i = 0; i < b.n; ++i) {
        done[i] = m.plain[i];
        if (!m.plain[i]) continue;
        const double s = b.spot[i], k = b.strike[i], n1 = m.n1[i], n2 = m.n2[i];
        out[i] = b.type[i] == OptionType::Call ? s * m.dq[i] * n1 - k * m.dr[i] * n2
                                               : k * m.dr[i] * n2 - s * m.dq[i] * n1;
    }
}

}  // namespace quelm::pricing

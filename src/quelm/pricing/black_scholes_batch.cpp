#include "quelm/pricing/black_scholes_batch.hpp"

#include "quelm/pricing/black_scholes.hpp"

namespace quelm::pricing {

void black_scholes_block(const VanillaBlock& b, double* out, bool* done) {
    LognormalTerms m;
    lognormal_terms(b, m);
    for (std::size_t i = 0; i < b.n; ++i) {
        done[i] = m.plain[i];
        if (!m.plain[i]) continue;
        out[i] = black_scholes_of_phi(b.type[i] == OptionType::Call, b.spot[i], b.strike[i], m.dr[i], m.dq[i], m.n1[i],
                                      m.n2[i]);
    }
}

}  // namespace quelm::pricing

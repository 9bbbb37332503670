#include "quelm/greeks/analytic_batch.hpp"

namespace quelm::greeks {

void analytic_greeks_block(const VanillaBlock& b, Greeks* out, bool* done) {
    LognormalTerms m;
    lognormal_terms(b, m);
    for (std::size_t i = 0; i < b.n; ++i) {
        done[i] = m.plain[i];
        if (!m.plain[i]) continue;
        const VanillaTerms v{b.spot[i], b.strike[i], b.expiry[i], b.rate[i],
                             b.dividend_yield[i], b.vol[i], b.type[i] == OptionType::Call};
        out[i] = greeks_of(v, m.sqrt_t[i], m.dr[i], m.dq[i], m.d1[i], m.e1[i], m.n1[i], m.n2[i]);
    }
}

}  // namespace quelm::greeks

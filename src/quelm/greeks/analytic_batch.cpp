#include "quelm/greeks/analytic_batch.hpp"

#include <cmath>

#include "quelm/core/math/distributions.hpp"

namespace quelm::greeks {

void analytic_greeks_block(const VanillaBlock& b, Greeks* out, bool* done) {
    LognormalTerms m;
    lognormal_terms(b, m);
    for (std::size_t i = 0; i < b.n; ++i) {
        done[i] = m.plain[i];
        if (!m.plain[i]) continue;
        const double s = b.spot[i], k = b.strike[i], r = b.rate[i], q = b.dividend_yield[i], sigma = b.vol[i];
        const double t = b.expiry[i], sqrt_t = m.sqrt_t[i], dr = m.dr[i], dq = m.dq[i];
        const double pdf1 = std::isnan(m.e1[i]) ? normal_pdf(m.d1[i]) : normal_pdf_of_exp(m.e1[i]);
        const double decay = -s * dq * pdf1 * sigma / (2.0 * sqrt_t);
        const double n1 = m.n1[i], n2 = m.n2[i];
        Greeks& g = out[i];
        if (b.type[i] == OptionType::Call) {
            g.delta = dq * n1;
            g.theta = decay - r * k * dr * n2 + q * s * dq * n1;
            g.rho = k * t * dr * n2;
        } else {
            g.delta = -dq * n1;
            g.theta = decay + r * k * dr * n2 - q * s * dq * n1;
            g.rho = -k * t * dr * n2;
        }
        g.gamma = dq * pdf1 / (s * sigma * sqrt_t);
        g.vega = s * dq * pdf1 * sqrt_t;
    }
}

}  // namespace quelm::greeks

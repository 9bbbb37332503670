#include "quelm/pricing/implied_vol_block.hpp"

#include <cmath>

#include "quelm/core/black_implied.hpp"
#include "quelm/pricing/implied_vol.hpp"

namespace quelm::pricing {

void implied_volatility_rational_block(const VanillaBlock& b, double* out, bool* done) {
    double beta[kVanillaBlock] = {}, x[kVanillaBlock] = {}, sqrt_t[kVanillaBlock] = {}, s[kVanillaBlock] = {};
    std::size_t index[kVanillaBlock];
    std::size_t queued = 0;
    for (std::size_t i = 0; i < b.n; ++i) {
        // A NaN spot also marks a rejected option string: the element path reports it.
        if (std::isnan(b.spot[i])) {
            done[i] = false;
            continue;
        }
        const Vanilla v = vanilla(b.spot[i], b.strike[i], b.rate[i], 0.0, b.expiry[i], b.type[i], b.dividend_yield[i]);
        const Result<RationalQuote> q = implied_rational_quote(v.contract, v.market, b.price[i]);
        done[i] = q.has_value();
        if (!done[i]) continue;
        if (!q->solve) {
            out[i] = q->answer;
            continue;
        }
        beta[queued] = q->beta;
        x[queued] = q->x;
        sqrt_t[queued] = q->sqrt_t;
        index[queued++] = i;
    }
    implied_otm_call_volatilities(beta, x, queued, s);
    for (std::size_t j = 0; j < queued; ++j) out[index[j]] = s[j] / sqrt_t[j];
}

}  // namespace quelm::pricing

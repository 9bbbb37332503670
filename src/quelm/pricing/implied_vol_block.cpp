#include "quelm/pricing/implied_vol_block.hpp"

#include <cmath>
#include <limits>

#include "quelm/core/black_implied.hpp"
#include "quelm/core/math/elementary.hpp"
#include "quelm/core/math/lanes.hpp"
#include "quelm/core/option.hpp"
#include "quelm/core/simd.hpp"
#include "quelm/pricing/implied_vol.hpp"

namespace quelm::pricing {

namespace {

bool finite(double v) { return std::isfinite(v); }

// implied_rational_quote's arithmetic for the ordinary quote (finite inputs, spot, strike
// and time > 0, inside the bounds, above the intrinsic value and below the limit), in lanes:
// beta, x and sqrt(t) per option, and 1 in `ordinary` where those hold. The others are
// left to the scalar function.
template <class V>
void quote_lanes(const VanillaBlock& b, double* beta, double* x, double* sqrt_t, double* ordinary) {
    constexpr std::size_t w = static_cast<std::size_t>(lanes::size_v<V>);
    for (std::size_t j = 0; j < b.n; j += w) {
        double spot[w], strike[w], rate[w], t[w], q[w], theta[w], price[w], finite_in[w];
        for (std::size_t k = 0; k < w; ++k) {
            const std::size_t i = j + k;
            const bool use = i < b.n;  // the rest: a harmless at-the-money quote
            spot[k] = use ? b.spot[i] : 100.0;
            strike[k] = use ? b.strike[i] : 100.0;
            rate[k] = use ? b.rate[i] : 0.0;
            t[k] = use ? b.expiry[i] : 1.0;
            q[k] = use ? b.dividend_yield[i] : 0.0;
            theta[k] = use ? theta_of(b.type[i]) : 1.0;
            price[k] = use ? b.price[i] : 8.0;
            finite_in[k] = finite(spot[k]) && finite(strike[k]) && finite(rate[k]) && finite(t[k]) && finite(q[k]) &&
                                   finite(price[k])
                               ? 1.0
                               : 0.0;
        }
        const V s = lanes::load<V>(spot), k = lanes::load<V>(strike), r = lanes::load<V>(rate), tt = lanes::load<V>(t),
                dy = lanes::load<V>(q), th = lanes::load<V>(theta), p = lanes::load<V>(price);
        const V d_r = discount_lanes(r, tt);
        // e^0 = 1 needs no exponential (the lanes with a time not finite take the scalar path).
        const V d_q = lanes::any(dy != 0.0) ? discount_lanes(dy, tt) : lanes::splat<V>(1.0);
        const V forward = s * exp_lanes((r - dy) * tt);
        const auto call = th > 0.0;
        const V gain = lanes::select(call, forward - k, k - forward);
        const V lower = d_r * lanes::select(gain > 0.0, gain, lanes::splat<V>(0.0));
        const V upper = lanes::select(call, s * d_q, k * d_r);
        const auto inside = lanes::mask_and(lanes::mask_not(p >= upper), lanes::mask_not(p < lower - 1e-12));
        // black_otm_quote(p / d_r, forward, k, theta), then normalised_otm_quote.
        const V moneyness = th * (forward - k);
        const V intrinsic = lanes::select(moneyness > 0.0, moneyness, lanes::splat<V>(0.0));
        const V otm = p / d_r - intrinsic;
        const V xn = -lanes::abs(log_lanes(forward / k));
        const V be = otm / (lanes::sqrt(forward) * lanes::sqrt(k));
        auto ok = lanes::mask_and(lanes::mask_and(s > 0.0, k > 0.0), lanes::mask_and(tt > 0.0, inside));
        ok = lanes::mask_and(ok, lanes::mask_and(lanes::abs(forward) < std::numeric_limits<double>::infinity(), d_r == d_r));
        ok = lanes::mask_and(ok, lanes::mask_and(otm > 0.0, lanes::mask_and(be > 0.0, be < exp_lanes(0.5 * xn))));
        ok = lanes::mask_and(ok, lanes::load<V>(finite_in) == 1.0);
        lanes::store(beta + j, be);
        lanes::store(x + j, xn);
        lanes::store(sqrt_t + j, lanes::sqrt(tt));
        lanes::store(ordinary + j, lanes::select(ok, lanes::splat<V>(1.0), lanes::splat<V>(0.0)));
    }
}

QUELM_SIMD_KERNEL(quote_at_width, quote_lanes)

}  // namespace

void implied_volatility_rational_block(const VanillaBlock& b, double* out, bool* done) {
    // Room for the last group's lanes past n.
    double beta[2 * kVanillaBlock] = {}, x[2 * kVanillaBlock] = {}, sqrt_t[2 * kVanillaBlock] = {},
           ordinary[2 * kVanillaBlock] = {}, s[kVanillaBlock] = {};
    quote_at_width(b, beta, x, sqrt_t, ordinary);
    std::size_t index[kVanillaBlock];
    std::size_t queued = 0;
    for (std::size_t i = 0; i < b.n; ++i) {
        done[i] = true;
        if (ordinary[i] != 0.0) {
            beta[queued] = beta[i];
            x[queued] = x[i];
            sqrt_t[queued] = sqrt_t[i];
            index[queued++] = i;
            continue;
        }
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

void implied_volatility_newton_block(const VanillaBlock& b, double* out, bool* done) {
    unsigned char newton_state[kVanillaBlock];
    implied_volatility_block(b, out, done, newton_state);
    for (std::size_t i = 0; i < b.n; ++i) {
        // 3: Brent found no bracket; the element path reports it.
        if (done[i] || newton_state[i] == 0 || newton_state[i] == 3) continue;
        const Vanilla v = vanilla(b.spot[i], b.strike[i], b.rate[i], 0.0, b.expiry[i], b.type[i], b.dividend_yield[i]);
        const Result<double> r = implied_volatility_after_newton(v.contract, v.market, b.price[i], newton_state[i] == 1);
        if (r) {
            out[i] = *r;
            done[i] = true;
        }
    }
}

}  // namespace quelm::pricing

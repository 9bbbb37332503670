#include "quelm/pricing/black/implied_vol_block.hpp"

#include <cmath>
#include <limits>

#include "quelm/pricing/black/black_implied.hpp"
#include "quelm/core/math/elementary.hpp"
#include "quelm/core/math/lanes.hpp"
#include "quelm/pricing/option.hpp"
#include "quelm/core/simd.hpp"
#include "quelm/pricing/black/implied_vol.hpp"

namespace quelm::pricing {

namespace {

// implied_rational_quote's arithmetic for the ordinary quote (finite inputs, spot, strike
// and time > 0, inside the bounds, above the intrinsic value and below the limit), in lanes:
// beta, x and sqrt(t) per option, and 1 in `ordinary` where those hold. The others are
// left to the scalar function.
template <class V>
void quote_lanes(const VanillaBlock& b, double* beta, double* x, double* sqrt_t, double* ordinary) {
    constexpr std::size_t w = static_cast<std::size_t>(lanes::size_v<V>);
    for (std::size_t j = 0; j < b.n; j += w) {
        V s, k, r, tt, dy, th, p;
        if (j + w <= b.n) {
            s = lanes::load<V>(b.spot + j);
            k = lanes::load<V>(b.strike + j);
            r = lanes::load<V>(b.rate + j);
            tt = lanes::load<V>(b.expiry + j);
            dy = lanes::load<V>(b.dividend_yield + j);
            p = lanes::load<V>(b.price + j);
            double theta[w];
            for (std::size_t i = 0; i < w; ++i) theta[i] = theta_of(b.type[j + i]);
            th = lanes::load<V>(theta);
        } else {
            double spot[w], strike[w], rate[w], t[w], q[w], theta[w], price[w];
            for (std::size_t i = 0; i < w; ++i) {
                const bool use = j + i < b.n;  // the rest: a harmless at-the-money quote
                spot[i] = use ? b.spot[j + i] : 100.0;
                strike[i] = use ? b.strike[j + i] : 100.0;
                rate[i] = use ? b.rate[j + i] : 0.0;
                t[i] = use ? b.expiry[j + i] : 1.0;
                q[i] = use ? b.dividend_yield[j + i] : 0.0;
                theta[i] = use ? theta_of(b.type[j + i]) : 1.0;
                price[i] = use ? b.price[j + i] : 8.0;
            }
            s = lanes::load<V>(spot);
            k = lanes::load<V>(strike);
            r = lanes::load<V>(rate);
            tt = lanes::load<V>(t);
            dy = lanes::load<V>(q);
            th = lanes::load<V>(theta);
            p = lanes::load<V>(price);
        }
        // Every input finite (a NaN fails the comparison too).
        constexpr double kInf = std::numeric_limits<double>::infinity();
        constexpr double kSmallestNormal = std::numeric_limits<double>::min();
        auto finite_in = lanes::mask_and(lanes::abs(s) < kInf, lanes::abs(k) < kInf);
        finite_in = lanes::mask_and(finite_in, lanes::mask_and(lanes::abs(r) < kInf, lanes::abs(tt) < kInf));
        finite_in = lanes::mask_and(finite_in, lanes::mask_and(lanes::abs(dy) < kInf, lanes::abs(p) < kInf));
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
        // A normalised price below the smallest normal double is solved on its log (scalar path).
        ok = lanes::mask_and(ok, lanes::mask_and(otm > 0.0, lanes::mask_and(be >= kSmallestNormal, be < exp_lanes(0.5 * xn))));
        ok = lanes::mask_and(ok, finite_in);
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

#include "quelm/pricing/vanilla/vanilla_block.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "quelm/core/math/brent_lanes.hpp"
#include "quelm/core/portable.hpp"
#include "quelm/core/simd.hpp"
#include "quelm/pricing/vanilla/vanilla_lanes.hpp"

namespace quelm {

namespace {

bool finite(double x) { return std::isfinite(x); }

// Lanes j .. j + width of the block; an unused lane gets a harmless at-the-money option, so
// that no rare path runs for it.
template <class V>
struct Loaded {
    VanillaLanes<V> in;
    V price;
};
template <class V>
Loaded<V> load_lanes(const VanillaBlock& b, const bool* use, std::size_t j) {
    constexpr int w = lanes::size_v<V>;
    double spot[w] = {}, strike[w] = {}, rate[w] = {}, vol[w] = {}, t[w] = {}, q[w] = {}, theta[w] = {},
           price[w] = {};
    for (int k = 0; k < w; ++k) {
        const std::size_t i = j + static_cast<std::size_t>(k);
        const bool u = use[i];
        spot[k] = u ? b.spot[i] : 1.0;
        strike[k] = u ? b.strike[i] : 1.0;
        rate[k] = u ? b.rate[i] : 0.0;
        vol[k] = u ? b.vol[i] : 0.2;
        t[k] = u ? b.expiry[i] : 1.0;
        q[k] = u ? b.dividend_yield[i] : 0.0;
        theta[k] = u ? theta_of(b.type[i]) : 1.0;
        price[k] = u ? b.price[i] : 0.08;
    }
    return {{lanes::load<V>(spot), lanes::load<V>(strike), lanes::load<V>(rate), lanes::load<V>(vol),
             lanes::load<V>(t), lanes::load<V>(q), lanes::load<V>(theta)},
            lanes::load<V>(price)};
}

// Runs body(j, loaded) over the lane groups that hold an option in use.
template <class V, class Body>
void each_group(const VanillaBlock& b, const bool* use, Body body) {
    constexpr std::size_t w = static_cast<std::size_t>(lanes::size_v<V>);
    for (std::size_t j = 0; j < b.n; j += w) {
        bool any = false;
        for (std::size_t k = 0; k < w; ++k) any = any || use[j + k];
        if (any) body(j, load_lanes<V>(b, use, j));
    }
}

// The inputs of lanes j .. j + width, one pointer per array.
struct Columns {
    const double *spot, *strike, *rate, *vol, *expiry, *q;
    const OptionType* type;
};
Columns columns_at(const VanillaBlock& b, std::size_t j) {
    return {b.spot + j, b.strike + j, b.rate + j, b.vol + j, b.expiry + j, b.dividend_yield + j, b.type + j};
}

// Width lanes read straight from the arrays (no lane assembled through memory), and which of
// them hold an ordinary option; the others get a harmless at-the-money option, so that no
// rare path runs for them.
template <class V>
struct Group {
    VanillaLanes<V> in;
    unsigned use;  // bit k: lane k is ordinary
};
template <class V>
Group<V> load_group(const Columns& c) {
    constexpr double kInf = std::numeric_limits<double>::infinity();
    const V spot = lanes::load<V>(c.spot), strike = lanes::load<V>(c.strike);
    const V rate = lanes::load<V>(c.rate), vol = lanes::load<V>(c.vol);
    const V t = lanes::load<V>(c.expiry), q = lanes::load<V>(c.q);
    const auto types = lanes::load_bytes<V>(reinterpret_cast<const unsigned char*>(c.type));
    // The ordinary option of the closed forms: finite inputs, spot, strike, vol and time > 0
    // (NaN fails every comparison).
    const auto positive = [&](V x) { return lanes::mask_and(x > 0.0, x < kInf); };
    const auto finite = [&](V x) { return lanes::abs(x) < kInf; };
    const auto use = lanes::mask_and(lanes::mask_and(lanes::mask_and(positive(spot), positive(strike)),
                                                     lanes::mask_and(positive(vol), positive(t))),
                                     lanes::mask_and(finite(rate), finite(q)));
    const V one = lanes::splat<V>(1.0), zero = lanes::splat<V>(0.0);
    const V theta = lanes::select(types == std::uint64_t{static_cast<unsigned char>(OptionType::Call)}, one, -one);
    return {{lanes::select(use, spot, one), lanes::select(use, strike, one), lanes::select(use, rate, zero),
             lanes::select(use, vol, lanes::splat<V>(0.2)), lanes::select(use, t, one), lanes::select(use, q, zero),
             lanes::select(use, theta, one)},
            lanes::lane_bits(use)};
}

// The last lanes of a block whose size is not a whole number of vectors: its options, then
// padding, so every lane reads set values.
struct Tail {
    static constexpr std::size_t kWidest = 8;
    double spot[kWidest], strike[kWidest], rate[kWidest], vol[kWidest], expiry[kWidest], q[kWidest];
    OptionType type[kWidest];
    Tail(const VanillaBlock& b, std::size_t j) {
        for (std::size_t k = 0; k < kWidest; ++k) {
            const bool in = j + k < b.n;
            spot[k] = in ? b.spot[j + k] : 1.0;
            strike[k] = in ? b.strike[j + k] : 1.0;
            rate[k] = in ? b.rate[j + k] : 0.0;
            vol[k] = in ? b.vol[j + k] : 0.2;
            expiry[k] = in ? b.expiry[j + k] : 1.0;
            q[k] = in ? b.dividend_yield[j + k] : 0.0;
            type[k] = in ? b.type[j + k] : OptionType::Call;
        }
    }
    Columns columns() const { return {spot, strike, rate, vol, expiry, q, type}; }
};

// Runs body(j, group) over the lane groups of a block that hold an ordinary option, and
// marks done[i] for those options.
template <class V, class Body>
void each_ordinary_group(const VanillaBlock& b, bool* done, Body body) {
    constexpr std::size_t w = static_cast<std::size_t>(lanes::size_v<V>);
    static_assert(w <= Tail::kWidest);
    for (std::size_t j = 0; j < b.n; j += w) {
        const Group<V> g = j + w <= b.n ? load_group<V>(columns_at(b, j)) : load_group<V>(Tail(b, j).columns());
        for (std::size_t k = 0; k < w && j + k < b.n; ++k) done[j + k] = ((g.use >> k) & 1u) != 0;
        if (g.use != 0) body(j, g.in);
    }
}

// The results go straight to `out`, lane group by lane group: a slot whose option is not
// done holds whatever its lane computed.
template <class V>
void price_lanes(const VanillaBlock& b, double* out, bool* done) {
    each_ordinary_group<V>(b, done, [&](std::size_t j, const VanillaLanes<V>& in) {
        const VanillaSetup<V> u = vanilla_setup(in);
        lanes::store(out + j, vanilla_price(u, vanilla_at(u, in.vol, in.theta), in.theta));
    });
}

template <class V>
void greeks_lanes(const VanillaBlock& b, double* out, std::size_t stride, bool* done) {
    each_ordinary_group<V>(b, done, [&](std::size_t j, const VanillaLanes<V>& in) {
        const VanillaSetup<V> u = vanilla_setup(in);
        const GreeksLanes<V> g = vanilla_greeks(in, u, vanilla_at(u, in.vol, in.theta));
        lanes::store(out + j, g.delta);
        lanes::store(out + stride + j, g.gamma);
        lanes::store(out + 2 * stride + j, g.vega);
        lanes::store(out + 3 * stride + j, g.theta);
        lanes::store(out + 4 * stride + j, g.rho);
    });
}

// Lane k alone, as a mask.
template <class V>
lanes::mask_t<V> lane_is(std::size_t k) {
    if constexpr (lanes::size_v<V> == 1) {
        return k == 0;
    } else {
        static constexpr double kLane[8] = {0.0, 1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0};
        return lanes::load<V>(kLane) == static_cast<double>(k);
    }
}

// Lane k of x set to value.
template <class V>
void put_lane(V& x, lanes::mask_t<V> lane, double value) {
    x = lanes::select(lane, lanes::splat<V>(value), x);
}

// Per option of a block, what the solve needs that does not depend on sigma; one more slot
// (kIdle) holds a harmless at-the-money option for the lanes without one.
inline constexpr std::size_t kIdle = kVanillaBlock;
struct ImpliedInputs {
    double sqrt_t[kVanillaBlock + 1], a[kVanillaBlock + 1], b[kVanillaBlock + 1], x[kVanillaBlock + 1],
        theta[kVanillaBlock + 1], price[kVanillaBlock + 1], guess[kVanillaBlock + 1];
};

// The lanes' options, as the vanilla step reads them.
template <class V>
struct ImpliedLanes {
    VanillaSetup<V> u;
    V theta, price;
};
template <class V>
void put_option(ImpliedLanes<V>& l, lanes::mask_t<V> lane, const ImpliedInputs& in, std::size_t i) {
    put_lane(l.u.sqrt_t, lane, in.sqrt_t[i]);
    put_lane(l.u.a, lane, in.a[i]);
    put_lane(l.u.b, lane, in.b[i]);
    put_lane(l.u.x, lane, in.x[i]);
    put_lane(l.theta, lane, in.theta[i]);
    put_lane(l.price, lane, in.price[i]);
}
template <class V>
ImpliedLanes<V> idle_lanes(const ImpliedInputs& in) {
    ImpliedLanes<V> l;
    l.u.sqrt_t = lanes::splat<V>(in.sqrt_t[kIdle]);
    l.u.dr = l.u.dq = lanes::splat<V>(1.0);  // the step reads neither
    l.u.a = lanes::splat<V>(in.a[kIdle]);
    l.u.b = lanes::splat<V>(in.b[kIdle]);
    l.u.x = lanes::splat<V>(in.x[kIdle]);
    l.theta = lanes::splat<V>(in.theta[kIdle]);
    l.price = lanes::splat<V>(in.price[kIdle]);
    return l;
}

// price(sigma) - quote, at sigma > 0.
template <class V>
V implied_residual(const ImpliedLanes<V>& l, V sigma) {
    return vanilla_price(l.u, vanilla_at(l.u, sigma, l.theta), l.theta) - l.price;
}

// Brent on [kBrentLowVol, kBrentHighVol] for the options Newton left (as the scalar call's
// brent() runs it, each lane one search): the ends of a group of searches priced together,
// then the searches stepped together, a lane that ends taking the next search.
template <class V>
void implied_brent_lanes(const ImpliedInputs& in, const std::size_t* option, std::size_t count, double* out,
                         bool* done, unsigned char* newton_state) {
    constexpr std::size_t w = static_cast<std::size_t>(lanes::size_v<V>);
    // Each search's state after its start (c = a, d = 0 and no step taken, for every
    // search); 1 in `ended` where it found its root at once, 2 where it failed.
    double sa[kVanillaBlock + w], sb[kVanillaBlock + w], sfa[kVanillaBlock + w], sfb[kVanillaBlock + w],
        ss[kVanillaBlock + w], smflag[kVanillaBlock + w], ended[kVanillaBlock + w];
    const V one = lanes::splat<V>(1.0), zero = lanes::splat<V>(0.0);
    for (std::size_t j = 0; j < count; j += w) {
        ImpliedLanes<V> l = idle_lanes<V>(in);
        for (std::size_t k = 0; k < w && j + k < count; ++k) put_option(l, lane_is<V>(k), in, option[j + k]);
        const V lo = lanes::splat<V>(kBrentLowVol), hi = lanes::splat<V>(kBrentHighVol);
        BrentLanes<V> r;
        const BrentEnd<V> e = brent_start(r, lo, hi, implied_residual(l, lo), implied_residual(l, hi), kBrentTolerance);
        lanes::store(sa + j, r.a);
        lanes::store(sb + j, r.b);
        lanes::store(sfa + j, r.fa);
        lanes::store(sfb + j, r.fb);
        lanes::store(ss + j, r.s);
        lanes::store(smflag + j, lanes::select(r.mflag, one, zero));
        lanes::store(ended + j, lanes::select(e.done, one, lanes::select(e.failed, lanes::splat<V>(2.0), zero)));
    }
    // A search that ended: its root, unless it failed (3: the element path reports it) or a
    // tiny quote's root does not reprice it (1: the exact solver answers, as after Newton).
    const auto finish = [&](std::size_t i, bool failed, double root, double f_root) {
        if (failed) {
            newton_state[i] = 3;
        } else if (implied_reprices(in.price[i], f_root)) {
            out[i] = root;
            done[i] = true;
        } else {
            newton_state[i] = 1;
        }
    };
    // The lanes price a point only where it is positive (always, short of a search gone
    // wrong: 2, the caller then finishes the option).
    std::size_t queue[kVanillaBlock], queued = 0;
    for (std::size_t j = 0; j < count; ++j) {
        if (ended[j] != 0.0) {
            finish(option[j], ended[j] == 2.0, sb[j], sfb[j]);
        } else if (!(ss[j] > 0.0)) {
            newton_state[option[j]] = 2;
        } else {
            queue[queued++] = j;
        }
    }
    if (queued == 0) return;
    ImpliedLanes<V> l = idle_lanes<V>(in);
    BrentLanes<V> r;
    r.a = r.c = r.d = r.iter = zero;
    r.b = r.s = lanes::splat<V>(0.2);
    r.fa = r.fc = -one;
    r.fb = one;
    r.mflag = one == one;
    std::size_t lane_search[w];
    unsigned busy = 0;
    std::size_t next = 0;
    const auto fill = [&](std::size_t k) {
        if (next == queued) return;
        const std::size_t j = queue[next++];
        const auto lane = lane_is<V>(k);
        put_option(l, lane, in, option[j]);
        put_lane(r.a, lane, sa[j]);
        put_lane(r.b, lane, sb[j]);
        put_lane(r.c, lane, sa[j]);
        put_lane(r.d, lane, 0.0);
        put_lane(r.fa, lane, sfa[j]);
        put_lane(r.fb, lane, sfb[j]);
        put_lane(r.fc, lane, sfa[j]);
        put_lane(r.s, lane, ss[j]);
        put_lane(r.iter, lane, 0.0);
        r.mflag = lanes::mask_or(lanes::mask_and(lane, lanes::splat<V>(smflag[j]) != 0.0),
                                 lanes::mask_and(lanes::mask_not(lane), r.mflag));
        lane_search[k] = j;
        busy |= 1u << k;
    };
    for (std::size_t k = 0; k < w; ++k) fill(k);
    while (busy != 0) {
        const BrentEnd<V> e = brent_take(r, implied_residual(l, r.s), kBrentTolerance, kBrentSteps);
        const unsigned done_bits = lanes::lane_bits(e.done), failed_bits = lanes::lane_bits(e.failed);
        const unsigned ends = busy & (done_bits | failed_bits | lanes::lane_bits(lanes::mask_not(r.s > 0.0)));
        if (ends == 0) continue;
        double b[w], fb[w];
        lanes::store(b, r.b);
        lanes::store(fb, r.fb);
        for (std::size_t k = 0; k < w; ++k) {
            if (((ends >> k) & 1u) == 0) continue;
            const std::size_t i = option[lane_search[k]];
            if (((done_bits | failed_bits) >> k) & 1u) {
                finish(i, ((failed_bits >> k) & 1u) != 0, b[k], fb[k]);
            } else {
                newton_state[i] = 2;
            }
            busy &= ~(1u << k);
            fill(k);
        }
    }
}

// As pricing::implied_volatility: the checks and the no-arbitrage bounds, then Newton, then
// Brent where Newton fails; an option that fails the checks or the bounds, or whose answer
// is rechecked for a tiny quote and fails, is left to the caller.
// Most options converge in 3 to 6 Newton steps and a few take dozens, so the lanes do not
// run in lock step: a lane whose option ends takes the block's next option. The options
// Newton fails then run Brent together.
template <class V>
void implied_lanes(const VanillaBlock& b, double* out, bool* done, unsigned char* newton_state) {
    constexpr std::size_t w = static_cast<std::size_t>(lanes::size_v<V>);
    bool use[kVanillaBlock];
    for (std::size_t i = 0; i < kVanillaBlock; ++i) {
        use[i] = i < b.n && finite(b.price[i]) && finite(b.spot[i]) && finite(b.strike[i]) && finite(b.rate[i]) &&
                 finite(b.expiry[i]) && finite(b.dividend_yield[i]) && b.spot[i] > 0.0 && b.strike[i] > 0.0 &&
                 b.expiry[i] > 0.0;
    }
    // Per option: what does not depend on sigma, the first guess, and whether the quote is
    // inside the no-arbitrage bounds (1 or 0).
    // (Read only for the options in use, all of whose lane groups each_group fills.)
    ImpliedInputs in;
    double inside[kVanillaBlock];
    each_group<V>(b, use, [&](std::size_t j, const Loaded<V>& l) {
        const VanillaLanes<V>& o = l.in;
        const V p = l.price;
        // The discount factors of the bounds are the setup's (e^0 = 1 where it skips one).
        const VanillaSetup<V> u = vanilla_setup(o);
        const V forward = o.spot * exp_lanes((o.rate - o.q) * o.t);
        const auto call = o.theta > 0.0;
        const V gain = lanes::select(call, forward - o.strike, o.strike - forward);
        const V lower = u.dr * lanes::select(gain > 0.0, gain, lanes::splat<V>(0.0));
        const V upper = lanes::select(call, o.spot * u.dq, o.strike * u.dr);
        const auto ok = lanes::mask_and(p < upper, p >= lower - 1e-12);
        lanes::store(in.sqrt_t + j, u.sqrt_t);
        lanes::store(in.a + j, u.a);
        lanes::store(in.b + j, u.b);
        lanes::store(in.x + j, u.x);
        lanes::store(in.theta + j, o.theta);
        lanes::store(in.price + j, p);
        lanes::store(in.guess + j, implied_guess_lanes(p, o.spot, o.t));
        lanes::store(inside + j, lanes::select(ok, lanes::splat<V>(1.0), lanes::splat<V>(0.0)));
    });
    in.sqrt_t[kIdle] = in.a[kIdle] = in.b[kIdle] = in.theta[kIdle] = 1.0;
    in.x[kIdle] = 0.0;
    in.price[kIdle] = 0.08;
    in.guess[kIdle] = 0.2;
    std::size_t queue[kVanillaBlock], queued = 0;
    for (std::size_t i = 0; i < b.n; ++i) {
        done[i] = false, newton_state[i] = 0;
        if (use[i] && inside[i] != 0.0) queue[queued++] = i;
    }

    // Newton, each lane as quelm::newton runs it: it stops once converged (sigma > 0 and
    // |f| <= 1e-12) or failed, or after kNewtonSteps steps; a failed option goes to Brent.
    ImpliedLanes<V> l = idle_lanes<V>(in);
    V sigma = lanes::splat<V>(in.guess[kIdle]), steps = lanes::splat<V>(0.0);
    std::size_t lane_option[w];
    std::size_t failed[kVanillaBlock], n_failed = 0;
    unsigned busy = 0;
    std::size_t next = 0;
    const auto fill = [&](std::size_t k) {
        if (next == queued) return;
        const std::size_t i = queue[next++];
        const auto lane = lane_is<V>(k);
        put_option(l, lane, in, i);
        put_lane(sigma, lane, in.guess[i]);
        put_lane(steps, lane, 0.0);
        lane_option[k] = i;
        busy |= 1u << k;
    };
    for (std::size_t k = 0; k < w; ++k) fill(k);
    while (busy != 0) {
        const NewtonStep<V> step = implied_newton_step(l.u, l.theta, l.price, sigma);
        steps = steps + 1.0;
        const auto go = lanes::mask_and(lanes::mask_not(lanes::mask_or(step.converged, step.failed)),
                                        steps < static_cast<double>(kNewtonSteps));
        const unsigned ends = busy & ~lanes::lane_bits(go);
        if (ends == 0) {
            sigma = step.next;
            continue;
        }
        const unsigned converged = lanes::lane_bits(step.converged);
        double root[w], f[w];
        lanes::store(root, sigma);
        lanes::store(f, step.f);
        sigma = lanes::select(go, step.next, sigma);
        for (std::size_t k = 0; k < w; ++k) {
            if (((ends >> k) & 1u) == 0) continue;
            const std::size_t i = lane_option[k];
            if (((converged >> k) & 1u) == 0) {
                failed[n_failed++] = i;
            } else if (implied_reprices(in.price[i], f[k])) {  // a tiny quote's answer must also reprice it
                out[i] = root[k];
                done[i] = true;
            } else {
                newton_state[i] = 1;
            }
            busy &= ~(1u << k);
            fill(k);
        }
    }
    if (n_failed == 0) return;
    // Few searches fill a twin's lanes badly (each runs a dozen steps or more, and the
    // lanes idle once none is left to take): they run at one half's width.
    if (lanes::IsTwin<V> && n_failed < 2 * w) {
        implied_brent_lanes<lanes::half_t<V>>(in, failed, n_failed, out, done, newton_state);
    } else {
        implied_brent_lanes<V>(in, failed, n_failed, out, done, newton_state);
    }
}

QUELM_SIMD_KERNEL_TWIN(price_at_width, price_lanes)
QUELM_SIMD_KERNEL_TWIN(greeks_at_width, greeks_lanes)
QUELM_SIMD_KERNEL_TWIN(implied_at_width, implied_lanes)

}  // namespace

void black_scholes_block(const VanillaBlock& block, double* out, bool* done) { price_at_width(block, out, done); }

void greeks_block(const VanillaBlock& block, double* out, std::size_t stride, bool* done) {
    greeks_at_width(block, out, stride, done);
}

void implied_volatility_block(const VanillaBlock& block, double* out, bool* done) {
    unsigned char newton_state[kVanillaBlock];
    implied_volatility_block(block, out, done, newton_state);  // one instance of the kernel
}

void implied_volatility_block(const VanillaBlock& block, double* out, bool* done, unsigned char* newton_state) {
    implied_at_width(block, out, done, newton_state);
}

}  // namespace quelm

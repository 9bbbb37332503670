#include "quelm/core/vanilla_block.hpp"

#include <cmath>
#include <cstdint>
#include <limits>

#include "quelm/core/math/solvers.hpp"
#include "quelm/core/simd.hpp"
#include "quelm/core/vanilla_kernel.hpp"

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

// Lanes j .. j + width of a block whose every array is filled, read straight from the
// arrays (no lane assembled through memory), and which of them hold an ordinary option;
// the others get a harmless at-the-money option, so that no rare path runs for them.
template <class V>
struct Group {
    VanillaLanes<V> in;
    unsigned use;  // bit k: lane k is ordinary
};
template <class V>
Group<V> load_group(const VanillaBlock& b, std::size_t j) {
    constexpr double kInf = std::numeric_limits<double>::infinity();
    const V spot = lanes::load<V>(b.spot + j), strike = lanes::load<V>(b.strike + j);
    const V rate = lanes::load<V>(b.rate + j), vol = lanes::load<V>(b.vol + j);
    const V t = lanes::load<V>(b.expiry + j), q = lanes::load<V>(b.dividend_yield + j);
    const auto types = lanes::load_bytes<V>(reinterpret_cast<const unsigned char*>(b.type + j));
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

// Runs body(j, group) over the lane groups of a block that hold an ordinary option, and
// marks done[i] for those options. A short block is padded first, so every lane reads set
// values.
template <class V, class Body>
void each_ordinary_group(const VanillaBlock& b, bool* done, Body body) {
    constexpr std::size_t w = static_cast<std::size_t>(lanes::size_v<V>);
    VanillaBlock padded;
    const VanillaBlock* full = &b;
    if (b.n < kVanillaBlock) {
        padded = b;
        for (std::size_t i = b.n; i < kVanillaBlock; ++i) {
            padded.spot[i] = padded.strike[i] = padded.expiry[i] = 1.0;
            padded.rate[i] = padded.dividend_yield[i] = 0.0;
            padded.vol[i] = padded.price[i] = 0.2;
            padded.type[i] = OptionType::Call;
        }
        full = &padded;
    }
    for (std::size_t j = 0; j < b.n; j += w) {
        const Group<V> g = load_group<V>(*full, j);
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

// As pricing::implied_volatility: the checks and the no-arbitrage bounds, then Newton, then
// Brent where Newton fails; an option that fails the checks or the bounds, or whose answer
// is rechecked for a tiny quote and fails, is left to the caller. Most options converge in
// 3 to 6 steps and a few take dozens (Brent about 17), so the lanes do not run in lock step:
// a lane that finishes takes the block's next option.
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
    double sqrt_t[kVanillaBlock], a[kVanillaBlock], bk[kVanillaBlock], x[kVanillaBlock], theta[kVanillaBlock],
        price[kVanillaBlock], guess[kVanillaBlock], inside[kVanillaBlock];
    each_group<V>(b, use, [&](std::size_t j, const Loaded<V>& l) {
        const VanillaLanes<V>& in = l.in;
        const V p = l.price;
        // The discount factors of the bounds are the setup's (e^0 = 1 where it skips one).
        const VanillaSetup<V> u = vanilla_setup(in);
        const V d_r = u.dr, d_q = u.dq;
        const V forward = in.spot * exp_lanes((in.rate - in.q) * in.t);
        const auto call = in.theta > 0.0;
        const V gain = lanes::select(call, forward - in.strike, in.strike - forward);
        const V lower = d_r * lanes::select(gain > 0.0, gain, lanes::splat<V>(0.0));
        const V upper = lanes::select(call, in.spot * d_q, in.strike * d_r);
        const auto ok = lanes::mask_and(p < upper, p >= lower - 1e-12);
        lanes::store(sqrt_t + j, u.sqrt_t);
        lanes::store(a + j, u.a);
        lanes::store(bk + j, u.b);
        lanes::store(x + j, u.x);
        lanes::store(theta + j, in.theta);
        lanes::store(price + j, p);
        lanes::store(guess + j, implied_guess_lanes(p, in.spot, in.t));
        lanes::store(inside + j, lanes::select(ok, lanes::splat<V>(1.0), lanes::splat<V>(0.0)));
    });
    // The options far from the money for their first guess (|ln(F/K)| of 2 total deviations at
    // the guess or more) go first: Newton fails for most of them, and never for the others in
    // books like the benchmarks', and their Brent searches hold a lane the longest; a long
    // search started last leaves the other lanes idle at the block's end.
    std::size_t queue[kVanillaBlock], near[kVanillaBlock];
    std::size_t queued = 0, n_near = 0;
    for (std::size_t i = 0; i < b.n; ++i) {
        if (!use[i] || inside[i] == 0.0) continue;
        if (std::fabs(x[i]) >= 2.0 * guess[i] * sqrt_t[i]) {
            queue[queued++] = i;
        } else {
            near[n_near++] = i;
        }
    }
    for (std::size_t j = 0; j < n_near; ++j) queue[queued++] = near[j];
    for (std::size_t i = 0; i < b.n; ++i) done[i] = false, newton_state[i] = 0;

    // The lanes' state; an idle lane holds a harmless at-the-money option. A lane runs its
    // option's Newton search; where that fails, the same lane prices Brent's two ends and runs
    // its search (a BrentSearch, as brent() in the scalar call), so the few options that need
    // Brent share the lanes with the rest.
    enum Phase : unsigned char { Newton, LowEnd, HighEnd, Brent };
    double l_sqrt_t[w], l_a[w], l_b[w], l_x[w], l_theta[w], l_price[w], l_sigma[w], l_f_low[w];
    std::size_t l_option[w];
    unsigned l_steps[w];
    Phase l_phase[w];
    BrentSearch l_search[w];
    std::size_t next = 0, busy = 0;
    const auto fill = [&](std::size_t k) {
        if (next < queued) {
            const std::size_t i = queue[next++];
            l_option[k] = i;
            l_sqrt_t[k] = sqrt_t[i], l_a[k] = a[i], l_b[k] = bk[i];
            l_x[k] = x[i], l_theta[k] = theta[i], l_price[k] = price[i], l_sigma[k] = guess[i];
            l_steps[k] = 0;
            l_phase[k] = Newton;
            l_f_low[k] = 0.0;
            ++busy;
        } else {
            l_option[k] = kVanillaBlock;
            l_sqrt_t[k] = 1.0, l_a[k] = 1.0, l_b[k] = 1.0;
            l_x[k] = 0.0, l_theta[k] = 1.0, l_price[k] = 0.08, l_sigma[k] = 0.2;
        }
    };
    // A search that ended: its root, unless it failed (3: the element path reports it) or a
    // tiny quote's root does not reprice it (1: the exact solver answers, as after Newton).
    const auto brent_ended = [&](std::size_t k, BrentSearch::State state) {
        const std::size_t i = l_option[k];
        if (state == BrentSearch::Failed) {
            newton_state[i] = 3;
        } else if (implied_reprices(l_price[k], l_search[k].root_value())) {
            out[i] = l_search[k].root();
            done[i] = true;
        } else {
            newton_state[i] = 1;
        }
    };
    // Brent's next point; the lane prices it as the scalar objective does only where it is
    // positive (always, short of a search gone wrong: the caller then finishes the option).
    const auto ask = [&](std::size_t k) {
        l_sigma[k] = l_search[k].s();
        if (l_sigma[k] > 0.0) return true;
        newton_state[l_option[k]] = 2;
        return false;
    };
    for (std::size_t k = 0; k < w; ++k) fill(k);
    while (busy > 0) {
        VanillaSetup<V> u;
        u.sqrt_t = lanes::load<V>(l_sqrt_t);
        u.dr = u.dq = lanes::splat<V>(1.0);  // the step reads neither
        u.a = lanes::load<V>(l_a);
        u.b = lanes::load<V>(l_b);
        u.x = lanes::load<V>(l_x);
        const V p = lanes::load<V>(l_price);
        // A lane at a positive sigma has f = price(sigma) - quote, Brent's objective too.
        const NewtonStep<V> step = implied_newton_step(u, lanes::load<V>(l_theta), p, lanes::load<V>(l_sigma));
        // 1: converged, 2: failed, 0: going on (as lanes of doubles, read back one by one).
        const V status = lanes::select(step.converged, lanes::splat<V>(1.0),
                                       lanes::select(step.failed, lanes::splat<V>(2.0), lanes::splat<V>(0.0)));
        double f[w], nxt[w], st[w];
        lanes::store(f, step.f);
        lanes::store(nxt, step.next);
        lanes::store(st, status);
        for (std::size_t k = 0; k < w; ++k) {
            const std::size_t i = l_option[k];
            if (i == kVanillaBlock) continue;
            switch (l_phase[k]) {
                case Newton:
                    if (st[k] == 0.0 && ++l_steps[k] < kNewtonSteps) {
                        l_sigma[k] = nxt[k];
                        continue;
                    }
                    if (st[k] != 1.0) {  // failed or out of steps: Brent, from f at the low end
                        l_phase[k] = LowEnd;
                        l_sigma[k] = kBrentLowVol;
                        continue;
                    }
                    // Converged: a tiny quote's answer must also reprice it.
                    if (implied_reprices(l_price[k], f[k])) {
                        out[i] = l_sigma[k];
                        done[i] = true;
                    } else {
                        newton_state[i] = 1;
                    }
                    break;
                case LowEnd:
                    l_f_low[k] = f[k];
                    l_phase[k] = HighEnd;
                    l_sigma[k] = kBrentHighVol;
                    continue;
                case HighEnd: {
                    l_search[k] = BrentSearch(kBrentLowVol, kBrentHighVol, kBrentTolerance, kBrentSteps);
                    const BrentSearch::State state = l_search[k].start(l_f_low[k], f[k]);
                    if (state == BrentSearch::Ask) {
                        l_phase[k] = Brent;
                        if (ask(k)) continue;
                    } else {
                        brent_ended(k, state);
                    }
                    break;
                }
                case Brent: {
                    const BrentSearch::State state = l_search[k].take(f[k]);
                    if (state == BrentSearch::Ask) {
                        if (ask(k)) continue;
                    } else {
                        brent_ended(k, state);
                    }
                    break;
                }
            }
            --busy;
            fill(k);
        }
    }
}

QUELM_SIMD_KERNEL(price_at_width, price_lanes)
QUELM_SIMD_KERNEL(greeks_at_width, greeks_lanes)
QUELM_SIMD_KERNEL(implied_at_width, implied_lanes)

}  // namespace

void black_scholes_block(const VanillaBlock& block, double* out, bool* done) { price_at_width(block, out, done); }

void greeks_block(const VanillaBlock& block, double* out, std::size_t stride, bool* done) {
    greeks_at_width(block, out, stride, done);
}

void implied_volatility_block(const VanillaBlock& block, double* out, bool* done) {
    unsigned char newton_state[kVanillaBlock];
    implied_at_width(block, out, done, newton_state);
}

void implied_volatility_block(const VanillaBlock& block, double* out, bool* done, unsigned char* newton_state) {
    implied_at_width(block, out, done, newton_state);
}

}  // namespace quelm

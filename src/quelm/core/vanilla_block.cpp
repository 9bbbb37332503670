#include "quelm/core/vanilla_block.hpp"

#include <cmath>

#include "quelm/core/simd.hpp"
#include "quelm/core/vanilla_kernel.hpp"

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif

namespace quelm {

namespace {

bool finite(double x) { return std::isfinite(x); }

// The ordinary option of the closed forms: finite inputs, spot, strike, vol and time > 0.
bool ordinary(const VanillaBlock& b, std::size_t i) {
    return finite(b.spot[i]) && finite(b.strike[i]) && finite(b.rate[i]) && finite(b.vol[i]) &&
           finite(b.expiry[i]) && finite(b.dividend_yield[i]) && b.spot[i] > 0.0 && b.strike[i] > 0.0 &&
           b.vol[i] > 0.0 && b.expiry[i] > 0.0;
}

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

void mark_ordinary(const VanillaBlock& b, bool* use, bool* done) {
    for (std::size_t i = 0; i < kVanillaBlock; ++i) use[i] = i < b.n && ordinary(b, i);
    for (std::size_t i = 0; i < b.n; ++i) done[i] = use[i];
}

template <class V>
void price_lanes(const VanillaBlock& b, double* out, bool* done) {
    bool use[kVanillaBlock];
    mark_ordinary(b, use, done);
    double result[kVanillaBlock];
    each_group<V>(b, use, [&](std::size_t j, const Loaded<V>& l) {
        const VanillaSetup<V> u = vanilla_setup(l.in);
        lanes::store(result + j, vanilla_price(u, vanilla_at(u, l.in.vol, l.in.theta), l.in.theta));
    });
    for (std::size_t i = 0; i < b.n; ++i)
        if (use[i]) out[i] = result[i];
}

template <class V>
void greeks_lanes(const VanillaBlock& b, double* out, std::size_t stride, bool* done) {
    bool use[kVanillaBlock];
    mark_ordinary(b, use, done);
    double result[5][kVanillaBlock];
    each_group<V>(b, use, [&](std::size_t j, const Loaded<V>& l) {
        const VanillaSetup<V> u = vanilla_setup(l.in);
        const GreeksLanes<V> g = vanilla_greeks(l.in, u, vanilla_at(u, l.in.vol, l.in.theta));
        lanes::store(result[0] + j, g.delta);
        lanes::store(result[1] + j, g.gamma);
        lanes::store(result[2] + j, g.vega);
        lanes::store(result[3] + j, g.theta);
        lanes::store(result[4] + j, g.rho);
    });
    for (std::size_t o = 0; o < 5; ++o)
        for (std::size_t i = 0; i < b.n; ++i)
            if (use[i]) out[o * stride + i] = result[o][i];
}

// As pricing::implied_volatility: the checks and the no-arbitrage bounds, then Newton; a
// lane that fails either, or whose answer is rechecked for a tiny quote and fails, is left
// to the caller.
template <class V>
void implied_lanes(const VanillaBlock& b, double* out, bool* done) {
    bool use[kVanillaBlock];
    for (std::size_t i = 0; i < kVanillaBlock; ++i) {
        use[i] = i < b.n && finite(b.price[i]) && finite(b.spot[i]) && finite(b.strike[i]) && finite(b.rate[i]) &&
                 finite(b.expiry[i]) && finite(b.dividend_yield[i]) && b.spot[i] > 0.0 && b.strike[i] > 0.0 &&
                 b.expiry[i] > 0.0;
    }
    double result[kVanillaBlock];
    bool solved[kVanillaBlock] = {};
    each_group<V>(b, use, [&](std::size_t j, const Loaded<V>& l) {
        const VanillaLanes<V>& in = l.in;
        const V p = l.price;
        const V dr = discount_lanes(in.rate, in.t);
        const V dq = discount_lanes(in.q, in.t);
        const V forward = in.spot * exp_lanes((in.rate - in.q) * in.t);
        const auto call = in.theta > 0.0;
        const V gain = lanes::select(call, forward - in.strike, in.strike - forward);
        const V lower = dr * lanes::select(gain > 0.0, gain, lanes::splat<V>(0.0));
        const V upper = lanes::select(call, in.spot * dq, in.strike * dr);
        const auto inside = lanes::mask_and(p < upper, p >= lower - 1e-12);
        const VanillaSetup<V> u = vanilla_setup(in);
        const NewtonLanes<V> r = implied_newton_lanes(u, in.theta, p, implied_guess_lanes(p, in.spot, in.t));
        const auto settled = lanes::mask_or(p >= 1e-3, lanes::abs(r.residual) <= 1e-9 * p);
        const auto good = lanes::mask_and(inside, lanes::mask_and(r.ok, settled));
        lanes::store(result + j, lanes::select(good, r.sigma, lanes::splat<V>(std::nan(""))));
    });
    for (std::size_t i = 0; i < b.n; ++i) solved[i] = use[i] && !std::isnan(result[i]);
    for (std::size_t i = 0; i < b.n; ++i) {
        done[i] = solved[i];
        if (solved[i]) out[i] = result[i];
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
    implied_at_width(block, out, done);
}

}  // namespace quelm

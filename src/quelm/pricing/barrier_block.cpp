#include "quelm/pricing/barrier_block.hpp"

#include <cmath>

#include "quelm/core/math/distributions.hpp"
#include "quelm/core/math/pow_lanes.hpp"
#include "quelm/core/simd.hpp"
#include "quelm/core/vanilla_kernel.hpp"

namespace quelm::pricing {

namespace {

bool finite(double x) { return std::isfinite(x); }
bool is_down(BarrierType t) { return t == BarrierType::DownIn || t == BarrierType::DownOut; }
bool is_in(BarrierType t) { return t == BarrierType::DownIn || t == BarrierType::UpIn; }

// The options barrier_price prices by formula: valid, finite, vol and time > 0 (a breached
// barrier gives the vanilla price or 0, the others the closed form).
bool ordinary(const BarrierBlock& b, std::size_t i) {
    const double s = b.spot[i], h = b.level[i];
    if (!(finite(s) && finite(b.strike[i]) && finite(b.rate[i]) && finite(b.vol[i]) && finite(b.expiry[i]) &&
          finite(b.dividend_yield[i]) && finite(h)))
        return false;
    return s > 0.0 && h > 0.0 && b.strike[i] > 0.0 && b.vol[i] > 0.0 && b.expiry[i] > 0.0;
}
bool breached(const BarrierBlock& b, std::size_t i) {
    return is_down(b.kind[i]) ? b.spot[i] <= b.level[i] : b.spot[i] >= b.level[i];
}

template <class V>
V phi_of(V x) {
    return normal_cdf_given_exp_lanes(x, normal_cdf_exp_lanes(x));
}

// One lane group's prices, as knock_in_price and barrier_price compute them; `ok` clears
// the lanes whose terms leave the plain formula (the caller prices those).
template <class V>
V barrier_lanes_price(V s, V k, V h, V t, V vol, V r, V q, V phi, V eta, V in, V hit, V& ok) {
    using M = lanes::mask_t<V>;
    const V b = r - q;
    const V vt = lanes::sqrt(t) * vol;
    const V mu = ((-0.5 * vol) * vol + b) / (vol * vol);
    const V lambda = 1.0 + mu;
    const V dq = exp_lanes((b - r) * t);
    const V dr = exp_lanes(-t * r);
    const V hs = h / s;
    const V e1 = 2.0 * lambda, e2 = 2.0 * mu;
    const V p1 = pow_lanes(hs, e1);
    const V p2 = pow_lanes(hs, e2);
    const V lvt = lambda * vt;
    const V x1 = log_lanes(s / k) / vt + lvt;
    const V x2 = log_lanes(s / h) / vt + lvt;
    const V y1 = log_lanes(h * h / (s * k)) / vt + lvt;
    const V y2 = log_lanes(hs) / vt + lvt;
    const auto ab = [&](V x) {
        return dq * (s * phi) * phi_of(phi * x) - dr * (k * phi) * phi_of(phi * x - phi * vt);
    };
    // The reflection terms; `plain` as plain_power_product, for both products.
    M plain_c = lanes::mask_not(M{}), plain_d = plain_c;
    const auto cd = [&](V y, M& plain) {
        const V z1 = eta * y, z2 = eta * y - eta * vt;
        const V n1 = phi_of(z1), n2 = phi_of(z2);
        const auto bad1 = lanes::mask_and(p1 > 1.0, n1 == 0.0);
        const auto bad2 = lanes::mask_and(p2 > 1.0, n2 == 0.0);
        plain = lanes::mask_not(lanes::mask_or(bad1, bad2));
        return p1 * dq * (s * phi) * n1 - p2 * dr * (k * phi) * n2;
    };
    const V A = ab(x1), B = ab(x2);
    const V C = cd(y1, plain_c), D = cd(y2, plain_d);
    // knock_in_price's cases, with phi = +-1 (call, put) and eta = +-1 (down, up).
    const auto down = eta > 0.0, call = phi > 0.0, k_above = k >= h;
    const V bc_d = (B - C) + D;
    const V knock_down = lanes::select(call, lanes::select(k_above, C, (A - B) + D), lanes::select(k_above, bc_d, A));
    const V knock_up = lanes::select(call, lanes::select(k_above, A, bc_d), lanes::select(k_above, (A - B) + D, C));
    const V knock_in = lanes::select(down, knock_down, knock_up);
    const auto uses_c = lanes::mask_not(lanes::mask_and(lanes::mask_not(lanes::mask_and(down, k_above)),
                                                        lanes::mask_not(lanes::mask_and(lanes::mask_not(down),
                                                                                        lanes::mask_not(k_above)))));
    const auto uses_d = lanes::mask_or(lanes::mask_and(call, lanes::mask_not(k_above)),
                                       lanes::mask_and(lanes::mask_not(call), k_above));
    const auto lost = lanes::mask_or(lanes::mask_and(uses_c, lanes::mask_not(plain_c)),
                                     lanes::mask_and(uses_d, lanes::mask_not(plain_d)));
    const auto in_range = lanes::mask_and(
        lanes::mask_and(lanes::mask_and(pow_exponent_on_main_path(e1), pow_exponent_on_main_path(e2)),
                        pow_base_on_main_path(hs)),
        lanes::mask_and(lanes::mask_and(p1 - p1 == 0.0, p2 - p2 == 0.0), knock_in - knock_in == 0.0));
    const auto breached = hit > 0.0;
    ok = lanes::select(lanes::mask_or(breached, lanes::mask_and(in_range, lanes::mask_not(lost))), ok,
                       lanes::splat<V>(0.0));
    // A knock-out is the vanilla less the knock-in, floored at 0; once breached, a knock-in
    // is the vanilla and a knock-out nothing.
    const VanillaLanes<V> v{s, k, r, vol, t, q, phi};
    const VanillaSetup<V> u = vanilla_setup(v);
    const V vanilla = vanilla_price(u, vanilla_at(u, vol, phi), phi);
    const V out = vanilla - knock_in;
    const V alive = lanes::select(in > 0.0, knock_in, lanes::select(out < 0.0, lanes::splat<V>(0.0), out));
    return lanes::select(breached, lanes::select(in > 0.0, vanilla, lanes::splat<V>(0.0)), alive);
}

template <class V>
void barrier_lanes(const BarrierBlock& b, double* out, bool* done) {
    constexpr std::size_t w = static_cast<std::size_t>(lanes::size_v<V>);
    bool use[kBarrierBlock + w] = {};
    for (std::size_t i = 0; i < b.n; ++i) use[i] = ordinary(b, i);
    double result[kBarrierBlock + w], okay[kBarrierBlock + w];
    for (std::size_t j = 0; j < b.n; j += w) {
        bool any = false;
        // An idle lane prices a harmless down-and-out call.
        double s[w], k[w], h[w], t[w], vol[w], r[w], q[w], phi[w], eta[w], in[w], hit[w];
        for (std::size_t c = 0; c < w; ++c) {
            const std::size_t i = j + c;
            const bool u = use[i];
            any = any || u;
            s[c] = u ? b.spot[i] : 100.0;
            k[c] = u ? b.strike[i] : 100.0;
            h[c] = u ? b.level[i] : 90.0;
            t[c] = u ? b.expiry[i] : 1.0;
            vol[c] = u ? b.vol[i] : 0.2;
            r[c] = u ? b.rate[i] : 0.03;
            q[c] = u ? b.dividend_yield[i] : 0.0;
            phi[c] = u ? theta_of(b.type[i]) : 1.0;
            eta[c] = u && !is_down(b.kind[i]) ? -1.0 : 1.0;
            in[c] = u && is_in(b.kind[i]) ? 1.0 : 0.0;
            hit[c] = u && breached(b, i) ? 1.0 : 0.0;
        }
        if (!any) continue;
        using lanes::load;
        V ok = lanes::splat<V>(1.0);
        const V p = barrier_lanes_price(load<V>(s), load<V>(k), load<V>(h), load<V>(t), load<V>(vol), load<V>(r),
                                        load<V>(q), load<V>(phi), load<V>(eta), load<V>(in), load<V>(hit), ok);
        lanes::store(result + j, p);
        lanes::store(okay + j, ok);
    }
    for (std::size_t i = 0; i < b.n; ++i) {
        done[i] = use[i] && okay[i] != 0.0;
        if (done[i]) out[i] = result[i];
    }
}

QUELM_SIMD_KERNEL(barrier_at_width, barrier_lanes)

}  // namespace

void barrier_price_block(const BarrierBlock& block, double* out, bool* done) { barrier_at_width(block, out, done); }

}  // namespace quelm::pricing

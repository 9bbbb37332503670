#include "quelm/pricing/barrier_block.hpp"

#include <cmath>

#include "quelm/core/math/distributions.hpp"
#include "quelm/core/math/pow_lanes.hpp"
#include "quelm/core/simd.hpp"
#include "quelm/pricing/vanilla/vanilla_lanes.hpp"

namespace quelm::pricing {

namespace {

bool finite(double x) { return std::isfinite(x); }

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

// The Black-Scholes price (black_scholes's formula for vol and time > 0).
template <class V>
V vanilla_lanes_price(V s, V k, V t, V vol, V r, V q, V phi) {
    const VanillaLanes<V> v{s, k, r, vol, t, q, phi};
    const VanillaSetup<V> u = vanilla_setup(v);
    return vanilla_price(u, vanilla_at(u, vol, phi), phi);
}

// One lane group of unbreached options, as knock_in_price and barrier_price price them;
// `ok` clears the lanes whose terms leave the plain formula (the caller prices those).
template <class V>
V barrier_lanes_price(V s, V k, V h, V t, V vol, V r, V q, V phi, V eta, V in, V& ok) {
    const V b = r - q;
    const V vt = lanes::sqrt(t) * vol;
    const V mu = ((-0.5 * vol) * vol + b) / (vol * vol);
    const V lambda = 1.0 + mu;
    const V dq = exp_lanes((b - r) * t);
    const V dr = exp_lanes(-t * r);
    const V hs = h / s;
    const V lvt = lambda * vt;
    // knock_in_price's cases, with phi = +-1 (call, put) and eta = +-1 (down, up): which
    // terms each needs (A and B are cheap enough to take always).
    const auto down = eta > 0.0, call = phi > 0.0, k_above = k >= h;
    const auto uses_c = lanes::mask_or(lanes::mask_and(down, k_above),
                                       lanes::mask_and(lanes::mask_not(down), lanes::mask_not(k_above)));
    const auto uses_d = lanes::mask_or(lanes::mask_and(call, lanes::mask_not(k_above)),
                                       lanes::mask_and(lanes::mask_not(call), k_above));
    const auto ab = [&](V x) {
        return dq * (s * phi) * phi_of(phi * x) - dr * (k * phi) * phi_of(phi * x - phi * vt);
    };
    const V A = ab(log_lanes(s / k) / vt + lvt);
    const V B = ab(log_lanes(s / h) / vt + lvt);
    V C = lanes::splat<V>(0.0), D = C;
    // With sigma^2 underflowing mu is infinite: the scalar call takes the zero-vol limit.
    auto in_range = mu - mu == 0.0;
    if (lanes::any(lanes::mask_or(uses_c, uses_d))) {
        const V e1 = 2.0 * lambda, e2 = 2.0 * mu;
        const V p1 = pow_lanes(hs, e1);
        const V p2 = pow_lanes(hs, e2);
        // The reflection terms; a lane whose product is not plain (plain_power_product) or
        // whose powers leave pow's main path goes to the caller.
        in_range = lanes::mask_and(
            in_range,
            lanes::mask_and(lanes::mask_and(lanes::mask_and(pow_exponent_on_main_path(e1), pow_exponent_on_main_path(e2)),
                                            pow_base_on_main_path(hs)),
                            lanes::mask_and(p1 - p1 == 0.0, p2 - p2 == 0.0)));
        const auto cd = [&](V y, auto used) {
            const V z1 = eta * y, z2 = eta * y - eta * vt;
            const V n1 = phi_of(z1), n2 = phi_of(z2);
            const auto bad = lanes::mask_or(lanes::mask_and(p1 > 1.0, n1 == 0.0), lanes::mask_and(p2 > 1.0, n2 == 0.0));
            in_range = lanes::mask_and(in_range, lanes::mask_not(lanes::mask_and(used, bad)));
            return p1 * dq * (s * phi) * n1 - p2 * dr * (k * phi) * n2;
        };
        if (lanes::any(uses_c)) C = cd(log_lanes(h * h / (s * k)) / vt + lvt, uses_c);
        if (lanes::any(uses_d)) D = cd(log_lanes(hs) / vt + lvt, uses_d);
    }
    const V bc_d = (B - C) + D;
    const V knock_down = lanes::select(call, lanes::select(k_above, C, (A - B) + D), lanes::select(k_above, bc_d, A));
    const V knock_up = lanes::select(call, lanes::select(k_above, A, bc_d), lanes::select(k_above, (A - B) + D, C));
    const V knock_in = lanes::select(down, knock_down, knock_up);
    in_range = lanes::mask_and(in_range, knock_in - knock_in == 0.0);
    ok = lanes::select(in_range, ok, lanes::splat<V>(0.0));
    // A knock-out is the vanilla less the knock-in, floored at 0.
    const auto knock_out = in <= 0.0;
    if (!lanes::any(knock_out)) return knock_in;
    const V out = vanilla_lanes_price(s, k, t, vol, r, q, phi) - knock_in;
    return lanes::select(knock_out, lanes::select(out < 0.0, lanes::splat<V>(0.0), out), knock_in);
}

template <class V>
void barrier_lanes(const BarrierBlock& b, double* out, bool* done) {
    constexpr std::size_t w = static_cast<std::size_t>(lanes::size_v<V>);
    // Unbreached options take the closed form, breached knock-ins the vanilla price (each
    // set packed into full lane groups); a breached knock-out is worth nothing.
    std::size_t formula[kBarrierBlock], vanilla[kBarrierBlock];
    std::size_t n_formula = 0, n_vanilla = 0;
    for (std::size_t i = 0; i < b.n; ++i) {
        done[i] = false;
        if (!ordinary(b, i)) continue;
        if (!breached(b, i)) {
            formula[n_formula++] = i;
        } else if (is_in(b.kind[i])) {
            vanilla[n_vanilla++] = i;
        } else {
            out[i] = 0.0;
            done[i] = true;
        }
    }
    const auto run = [&](const std::size_t* list, std::size_t count, bool closed_form) {
        for (std::size_t j = 0; j < count; j += w) {
            // An idle lane prices a harmless down-and-out call.
            double s[w], k[w], h[w], t[w], vol[w], r[w], q[w], phi[w], eta[w], in[w];
            for (std::size_t c = 0; c < w; ++c) {
                const bool u = j + c < count;
                const std::size_t i = u ? list[j + c] : 0;
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
            }
            using lanes::load;
            V ok = lanes::splat<V>(1.0);
            const V p = closed_form ? barrier_lanes_price(load<V>(s), load<V>(k), load<V>(h), load<V>(t), load<V>(vol),
                                                          load<V>(r), load<V>(q), load<V>(phi), load<V>(eta),
                                                          load<V>(in), ok)
                                    : vanilla_lanes_price(load<V>(s), load<V>(k), load<V>(t), load<V>(vol),
                                                          load<V>(r), load<V>(q), load<V>(phi));
            double price[w], okay[w];
            lanes::store(price, p);
            lanes::store(okay, ok);
            for (std::size_t c = 0; c < w && j + c < count; ++c) {
                if (okay[c] == 0.0) continue;
                out[list[j + c]] = price[c];
                done[list[j + c]] = true;
            }
        }
    };
    // Options needing the same terms side by side, so that a lane group skips what none of
    // its options needs (the reflection terms C and D, the vanilla price of a knock-out).
    const auto terms = [&](std::size_t i) {
        const bool down = is_down(b.kind[i]), k_above = b.strike[i] >= b.level[i];
        const bool call = b.type[i] == OptionType::Call;
        return (down == k_above ? 4u : 0u) + (call != k_above ? 2u : 0u) + (is_in(b.kind[i]) ? 0u : 1u);
    };
    std::size_t sorted[kBarrierBlock], at = 0;
    for (unsigned key = 0; key < 8; ++key)
        for (std::size_t j = 0; j < n_formula; ++j)
            if (terms(formula[j]) == key) sorted[at++] = formula[j];
    run(sorted, n_formula, true);
    run(vanilla, n_vanilla, false);
}

QUELM_SIMD_KERNEL(barrier_at_width, barrier_lanes)

}  // namespace

void barrier_price_block(const BarrierBlock& block, double* out, bool* done) {
    // One lane at a time the formula does more work than the scalar call's own branches.
    if (simd_level() == SimdLevel::Scalar) {
        for (std::size_t i = 0; i < block.n; ++i) done[i] = false;
        return;
    }
    barrier_at_width(block, out, done);
}

}  // namespace quelm::pricing

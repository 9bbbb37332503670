// The normalised out-of-the-money Black call and its vega (black.hpp) over a lane type
// (math/lanes.hpp), each lane doing the scalar call's operations: the Taylor region in
// s/2 and Cody's erfc / erfcx region in lanes; a lane in the far lower tail (the
// asymptotic series), or with s not positive or infinite, takes the scalar call itself.
// x = ln(F/K) <= 0 and s = sigma sqrt(T), dimensionless.
#pragma once

#include <cmath>
#include <limits>

#include "quelm/pricing/black/black.hpp"
#include "quelm/core/math/elementary.hpp"
#include "quelm/core/math/erf_lanes.hpp"
#include "quelm/core/math/lanes.hpp"

namespace quelm::black_lanes {

inline constexpr double kOneOverSqrtTwoPi = 0.39894228040143267794;
inline constexpr double kOneOverSqrt2 = 0.70710678118654752440;
inline constexpr double kAsymptoticH = -10.0;
inline constexpr double kSmallT = 0.21022410381342863;
inline constexpr double kCodySplit = 0.46875;

// floor per lane (exact).
template <class V>
[[nodiscard]] inline V floor(V x) {
    if constexpr (lanes::size_v<V> == 1) {
        return std::floor(x);
    } else {
        for (int k = 0; k < lanes::size_v<V>; ++k) x[k] = std::floor(x[k]);
        return x;
    }
}

// Each function below computes a branch only where a lane in `use` takes it (a lane's bits
// where it takes it): a lane outside `use` gets a value its caller drops, so no form is
// computed for a lane that does not need it.

// erfcx(y) for y > 0.46875 (Cody's middle form up to 4, the large one beyond).
template <class V>
[[nodiscard]] inline V erfcx_above_small(V y, lanes::mask_t<V> use) {
    const auto middle = y <= 4.0;
    V m{}, l{};
    if (lanes::any(lanes::mask_and(use, middle))) m = cody::erfcx_middle(y);
    if (lanes::any(lanes::mask_and(use, lanes::mask_not(middle)))) l = cody::erfcx_large(y);
    return lanes::select(middle, m, l);
}

// erfcx(y) for y >= 0 (erfcx_cody: e^(y^2) (1 - erf(y)) up to 0.46875).
template <class V>
[[nodiscard]] inline V erfcx_nonnegative(V y, lanes::mask_t<V> use) {
    const auto small = y <= cody::kSmall;
    V e{}, a{};
    if (lanes::any(lanes::mask_and(use, small))) e = exp_lanes(y * y) * (1.0 - cody::erf_small(y));
    if (lanes::any(lanes::mask_and(use, lanes::mask_not(small)))) a = erfcx_above_small(y, use);
    return lanes::select(small, e, a);
}

// erfc(y) for y > 0.46875: e^(-y^2) split as erf.cpp splits it, times erfcx.
template <class V>
[[nodiscard]] inline V erfc_positive(V y, lanes::mask_t<V> use) {
    const V head = floor(y * 16.0) / 16.0;
    const V rest = (y - head) * (y + head);
    const V c = exp_lanes(-head * head) * exp_lanes(-rest) * erfcx_above_small(y, use);
    return lanes::select(y > 26.7, lanes::splat<V>(0.0), c);
}

// erfc(x) for any x (erfc_cody).
template <class V>
[[nodiscard]] inline V erfc_lanes(V x, lanes::mask_t<V> use) {
    const V y = lanes::abs(x);
    const auto small = y <= cody::kSmall;
    const auto large = lanes::mask_and(use, lanes::mask_not(small));
    V near{}, c{};
    if (lanes::any(lanes::mask_and(use, small))) near = 1.0 - cody::erf_small(x);
    if (lanes::any(large)) {
        c = erfc_positive(y, large);
        c = lanes::select(x < 0.0, 2.0 - c, c);
    }
    return lanes::select(small, near, c);
}

// Y(h) and Y'(h) = 1 + h Y(h) for h <= 0 (normal_mills_and_slope).
template <class V>
struct MillsAndSlope {
    V y, slope;
};
template <class V>
[[nodiscard]] inline MillsAndSlope<V> mills_and_slope(V z, lanes::mask_t<V> use) {
    constexpr double kSqrtPi = 1.7724538509055160273;
    constexpr double kSqrtHalfPi = 1.2533141373155002512;
    const V q = -z * kOneOverSqrt2;
    const auto near = lanes::mask_not(q > 4.0);
    MillsAndSlope<V> r{};
    if (lanes::any(lanes::mask_and(use, near))) {
        const auto small = q <= cody::kSmall;
        V e{}, m{};
        if (lanes::any(lanes::mask_and(use, lanes::mask_and(near, small)))) e = exp_lanes(q * q) * (1.0 - cody::erf_small(q));
        if (lanes::any(lanes::mask_and(use, lanes::mask_and(near, lanes::mask_not(small))))) m = cody::erfcx_middle(q);
        r.y = kSqrtHalfPi * lanes::select(small, e, m);
        r.slope = 1.0 + z * r.y;
    }
    if (lanes::any(lanes::mask_and(use, lanes::mask_not(near)))) {
        const V rest = cody::erfcx_large_rest(1.0 / (q * q));
        const auto huge = q >= 6.7e7;
        const V y = lanes::select(huge, kSqrtHalfPi * cody::kOneOverSqrtPi / q, kSqrtHalfPi * (cody::kOneOverSqrtPi - rest) / q);
        const V slope = lanes::select(huge, 1.0 / (z * z), kSqrtPi * rest);
        r.y = lanes::select(near, r.y, y);
        r.slope = lanes::select(near, r.slope, slope);
    }
    return r;
}

// Y(h+t) - Y(h-t) by its Taylor series in t (mills_difference_small_t).
template <class V>
[[nodiscard]] inline V mills_difference_small_t(V h, V t, lanes::mask_t<V> use) {
    const MillsAndSlope<V> m = mills_and_slope(h, use);
    V y_prev = m.y;
    V y = m.slope;
    const V t2 = t * t;
    V power = t;
    V sum = y * power;
    for (int n = 1, j = 1; n < 17; n += 2, ++j) {
        const V y_next = h * y + static_cast<double>(n) * y_prev;
        const V y_odd = h * y_next + static_cast<double>(n + 1) * y;
        power *= t2;
        sum += y_odd * (power * kInverseFactorial[j]);
        y_prev = y_next;
        y = y_odd;
    }
    return 2.0 * sum;
}

template <class V>
struct BlackAndVega {
    V b, vega;
};

// normalised_black_call_otm_and_vega(x, s) per lane; half = e^(x/2) (the same bits as
// exp(x / 2.0), which the scalar call forms where it needs it).
template <class V>
[[nodiscard]] inline BlackAndVega<V> black_otm_and_vega(V x, V s, V half) {
    using M = lanes::mask_t<V>;
    const V h = x / s;
    const V t = s / 2.0;
    const V damp = exp_lanes(-(h * h + t * t) / 2.0);
    BlackAndVega<V> r{lanes::splat<V>(0.0), kOneOverSqrtTwoPi * damp};
    const M asymptotic = lanes::mask_and(h < kAsymptoticH, h + t < kAsymptoticH + kSmallT);
    const M odd = lanes::mask_or(asymptotic, lanes::mask_or(lanes::mask_not(s > 0.0), s == lanes::splat<V>(std::numeric_limits<double>::infinity())));
    const M taylor = lanes::mask_and(lanes::mask_not(odd), t < kSmallT);
    const M cody_region = lanes::mask_and(lanes::mask_not(odd), lanes::mask_not(t < kSmallT));
    if (lanes::any(taylor)) r.b = lanes::select(taylor, r.vega * mills_difference_small_t(h, t, taylor), r.b);
    if (lanes::any(cody_region)) {
        const V q1 = -(h + t) * kOneOverSqrt2;
        const V q2 = (t - h) * kOneOverSqrt2;
        const M low1 = q1 < kCodySplit;
        const M low2 = q2 < kCodySplit;  // (q2 > q1: a lane with low2 has low1)
        const M use_ex2 = lanes::mask_and(cody_region, lanes::mask_not(low2));
        const M use_ec2 = lanes::mask_and(cody_region, lanes::mask_and(low1, low2));
        const M use_ec1 = lanes::mask_and(cody_region, low1);
        const M use_ex1 = lanes::mask_and(cody_region, lanes::mask_not(low1));
        V ex2{}, ec2{}, ec1{}, ex1{};
        if (lanes::any(use_ex2)) ex2 = erfcx_nonnegative(q2, use_ex2);
        // 0 < q2 < 0.46875: erfc's form near zero.
        if (lanes::any(use_ec2)) ec2 = 1.0 - cody::erf_small(q2);
        if (lanes::any(use_ec1)) ec1 = erfc_lanes(q1, use_ec1);
        if (lanes::any(use_ex1)) ex1 = erfcx_nonnegative(q1, use_ex1);
        const V second = lanes::select(low2, ec2 / half, damp * ex2);
        const V two_b = lanes::select(low1, half * ec1 - second, damp * (ex1 - ex2));
        const V b = two_b / 2.0;
        r.b = lanes::select(cody_region, lanes::select(b > 0.0, b, lanes::splat<V>(0.0)), r.b);
    }
    if (lanes::any(odd)) {
        constexpr int w = lanes::size_v<V>;
        double xs[w], ss[w], bs[w], vs[w], os[w];
        lanes::store(xs, x);
        lanes::store(ss, s);
        lanes::store(bs, r.b);
        lanes::store(vs, r.vega);
        lanes::store(os, lanes::select(odd, lanes::splat<V>(1.0), lanes::splat<V>(0.0)));
        for (int k = 0; k < w; ++k) {
            if (os[k] == 0.0) continue;
            const quelm::BlackAndVega one = normalised_black_call_otm_and_vega(xs[k], ss[k]);
            bs[k] = one.b;
            vs[k] = one.vega;
        }
        r.b = lanes::load<V>(bs);
        r.vega = lanes::load<V>(vs);
    }
    return r;
}

}  // namespace quelm::black_lanes

// x^y for lanes of x and y, on quelm::pow's main path (elementary.hpp): log x
// as a double-double from log's reduction, y times it split exactly, exp with the low part
// as a correction. The same operations in the same order as quelm::pow, so each lane has
// its bits, for x positive and normal (not 1) and 2^-65 <= |y| < 2^64; pow_main_path() says
// whether a lane is on it (the caller answers the others with quelm::pow).
#pragma once

#include <cstdint>

#include "quelm/core/math/elementary.hpp"
#include "quelm/core/math/lanes.hpp"

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"
#endif

namespace quelm {

namespace pow_lanes_detail {

template <class V>
struct DDL {
    V hi, lo;
};

template <class V>
[[nodiscard]] inline DDL<V> fast_two_sum(V a, V b) {
    const V s = a + b;
    return {s, (a - s) + b};
}

template <class V>
[[nodiscard]] inline V top26(V a) {
    return lanes::from_bits(lanes::to_bits(a) & 0xfffffffff8000000ULL);
}

template <class V>
[[nodiscard]] inline DDL<V> split(V a) {
    const V c = 134217729.0 * a;
    const V hi = c - (c - a);
    return {hi, a - hi};
}

// y * a = hi + lo exactly (Dekker, no FMA), as elementary_detail::two_prod.
template <class V>
[[nodiscard]] inline DDL<V> two_prod(V y, V a) {
    const V p = y * a;
    const DDL<V> x = split(y);
    const DDL<V> s = split(a);
    return {p, ((x.hi * s.hi - p) + x.hi * s.lo + x.lo * s.hi) + x.lo * s.lo};
}

// elementary_detail::log_ext, lane by lane.
template <class V>
[[nodiscard]] inline DDL<V> log_ext(lanes::bits_t<V> ix) {
    using namespace elementary_detail;
    const LogReduced<V> d = log_reduce<V>(ix);
    const V r = d.r;
    const V rh = top26(r);
    const V rl = r - rh;
    const V m_hi = -0.5 * (rh * rh);
    const V m_lo = -0.5 * (rl * (r + rh));
    const V w = d.kd * kLn2Hi + d.logc_hi;
    const DDL<V> t1 = fast_two_sum(w, r);
    const DDL<V> t2 = fast_two_sum(t1.hi, m_hi);
    const V r2 = r * r;
    const V q = kPowLogPoly[0] + r * kPowLogPoly[1] + r2 * (kPowLogPoly[2] + r * kPowLogPoly[3]) +
                r2 * r2 * (kPowLogPoly[4] + r * kPowLogPoly[5] + r2 * kPowLogPoly[6]);
    const V lo = t1.lo + t2.lo + m_lo + (d.kd * kLn2Lo + d.logc_lo) + r * r2 * q;
    return fast_two_sum(t2.hi, lo);
}

}  // namespace pow_lanes_detail

// Whether quelm::pow(x, y) takes the main path: x positive, normal, finite and not 1;
// 2^-65 <= |y| < 2^64. For one lane or many.
template <class V>
[[nodiscard]] inline auto pow_exponent_on_main_path(V y) {
    const V ay = lanes::abs(y);
    return lanes::mask_and(ay >= 0x1p-65, ay < 0x1p64);
}
template <class V>
[[nodiscard]] inline auto pow_base_on_main_path(V x) {
    return lanes::mask_and(lanes::mask_and(x >= 0x1p-1022, x < elementary_detail::kInf), x != 1.0);
}

// x^y for lanes on the main path (others get a value the caller replaces).
template <class V>
[[nodiscard]] inline V pow_lanes(V x, V y) {
    using namespace pow_lanes_detail;
    const DDL<V> l = log_ext<V>(lanes::to_bits(x));
    const DDL<V> e = two_prod(y, l.hi);
    const V tail = e.lo + y * l.lo;
    return elementary_detail::exp_impl<V, true>(e.hi, tail);
}

}  // namespace quelm

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

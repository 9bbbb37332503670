// Brent's method over lanes: BrentSearch (solvers.hpp) with each lane one search, written
// with selects instead of branches so that a vector of searches steps together. Every lane
// does exactly the operations BrentSearch does for its search, in the same order, so a
// lane's points and root have the scalar search's bits.
#pragma once

#include "quelm/core/math/lanes.hpp"

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"
#endif

namespace quelm {

template <class V>
struct BrentLanes {
    using M = lanes::mask_t<V>;
    V a, b, c, d, fa, fb, fc, s, iter;
    M mflag;
};

// What a start or a step left each lane with: the search asks f at s (neither mask), ended
// at the root b with f(b) = fb (done), or failed (no bracket, or out of steps).
template <class V>
struct BrentEnd {
    lanes::mask_t<V> done, failed;
};

namespace detail {

// BrentSearch::propose: the next point, by inverse quadratic interpolation or the secant,
// or bisection where those stray.
template <class V>
void brent_propose(BrentLanes<V>& r, double tol) {
    constexpr double eps = 2.220446049250313e-16;
    const V a = r.a, b = r.b, c = r.c, fa = r.fa, fb = r.fb, fc = r.fc;
    const auto quadratic = lanes::mask_and(lanes::abs(fa - fc) > eps, lanes::abs(fb - fc) > eps);
    const auto interpolated = [&] {
        return a * fb * fc / ((fa - fb) * (fa - fc)) + b * fa * fc / ((fb - fa) * (fb - fc)) +
               c * fa * fb / ((fc - fa) * (fc - fb));
    };
    const auto secant = [&] { return b - fb * (b - a) / (fb - fa); };
    // Only the forms some lane takes are computed.
    const V s = lanes::all(quadratic)     ? interpolated()
                : !lanes::any(quadratic) ? secant()
                                         : lanes::select(quadratic, interpolated(), secant());
    const auto m = r.mflag;
    const auto not_m = lanes::mask_not(m);
    const auto bisect = lanes::mask_or(
        lanes::mask_or((s - (3.0 * a + b) / 4.0) * (s - b) >= 0.0,
                       lanes::mask_and(m, lanes::mask_or(lanes::abs(b - c) < tol,
                                                         lanes::abs(s - b) >= lanes::abs(b - c) / 2.0))),
        lanes::mask_and(not_m, lanes::mask_or(lanes::abs(c - r.d) < tol, lanes::abs(s - b) >= lanes::abs(c - r.d) / 2.0)));
    r.s = lanes::select(bisect, (a + b) / 2.0, s);
    r.mflag = bisect;
}

}  // namespace detail

// BrentSearch(lo, hi, tol, max_iter).start(f_lo, f_hi) in every lane. A lane that ends at
// once has its root in b and f there in fb.
template <class V>
[[nodiscard]] inline BrentEnd<V> brent_start(BrentLanes<V>& r, V lo, V hi, V f_lo, V f_hi, double tol) {
    const auto at_lo = lanes::abs(f_lo) <= tol;
    const auto at_hi = lanes::abs(f_hi) <= tol;
    BrentEnd<V> e;
    e.done = lanes::mask_or(at_lo, at_hi);
    e.failed = lanes::mask_and(lanes::mask_not(e.done), f_lo * f_hi > 0.0);
    // The end with the smaller |f| becomes b.
    const auto swap = lanes::mask_not(lanes::abs(f_hi) <= lanes::abs(f_lo));
    r.a = lanes::select(swap, hi, lo);
    r.b = lanes::select(swap, lo, hi);
    r.fa = lanes::select(swap, f_hi, f_lo);
    r.fb = lanes::select(swap, f_lo, f_hi);
    r.c = r.a;
    r.fc = r.fa;
    r.d = lanes::splat<V>(0.0);
    r.iter = lanes::splat<V>(0.0);
    r.mflag = lo == lo;  // all true (the ends are numbers)
    detail::brent_propose(r, tol);
    // Ended at an end: that end is the root (lo first, as BrentSearch checks it first).
    r.b = lanes::select(at_lo, lo, lanes::select(at_hi, hi, r.b));
    r.fb = lanes::select(at_lo, f_lo, lanes::select(at_hi, f_hi, r.fb));
    return e;
}

// BrentSearch::take(f(s)) in every lane.
template <class V>
[[nodiscard]] inline BrentEnd<V> brent_take(BrentLanes<V>& r, V fs, double tol, unsigned max_iter) {
    r.d = r.c;
    r.c = r.b;
    r.fc = r.fb;
    const auto to_b = r.fa * fs < 0.0;
    const V a = lanes::select(to_b, r.a, r.s), fa = lanes::select(to_b, r.fa, fs);
    const V b = lanes::select(to_b, r.s, r.b), fb = lanes::select(to_b, fs, r.fb);
    const auto swap = lanes::abs(fa) < lanes::abs(fb);
    r.a = lanes::select(swap, b, a);
    r.b = lanes::select(swap, a, b);
    r.fa = lanes::select(swap, fb, fa);
    r.fb = lanes::select(swap, fa, fb);
    BrentEnd<V> e;
    e.done = lanes::mask_or(lanes::abs(r.fb) <= tol, lanes::abs(r.b - r.a) <= tol);
    r.iter = r.iter + 1.0;
    e.failed = lanes::mask_and(lanes::mask_not(e.done), r.iter >= static_cast<double>(max_iter));
    detail::brent_propose(r, tol);
    return e;
}

}  // namespace quelm

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

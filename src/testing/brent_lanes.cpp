// Test hook for Brent's method over lanes: two searches side by side in one vector of lanes,
// against the scalar search on each.
#include "testing/registry.hpp"

#include <limits>

#include "quelm/core/math/brent_lanes.hpp"
#include "quelm/core/math/solvers.hpp"

namespace quelm::testing {

namespace {

using V = lanes::F64<2>;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

template <class T>
T cubic(T x, T c0, T c1, T c2, T c3) {
    return ((c3 * x + c2) * x + c1) * x + c0;
}

// The roots on [lo, hi] of a0 + a1 x + a2 x^2 + a3 x^3 and of the b cubic: (scalar a,
// scalar b, lanes a, lanes b), NaN where a search failed.
PyObject* brent_pair(double a0, double a1, double a2, double a3, double b0, double b1, double b2, double b3, double lo,
                     double hi, double tol, py::U32 max_iter) {
    const double scalar_a = brent([&](double x) { return cubic(x, a0, a1, a2, a3); }, lo, hi, tol, max_iter.value)
                                .value_or(kNaN);
    const double scalar_b = brent([&](double x) { return cubic(x, b0, b1, b2, b3); }, lo, hi, tol, max_iter.value)
                                .value_or(kNaN);
    const V c0{a0, b0}, c1{a1, b1}, c2{a2, b2}, c3{a3, b3};
    const V vlo = lanes::splat<V>(lo), vhi = lanes::splat<V>(hi);
    BrentLanes<V> r;
    BrentEnd<V> e = brent_start(r, vlo, vhi, cubic(vlo, c0, c1, c2, c3), cubic(vhi, c0, c1, c2, c3), tol);
    double root[2] = {kNaN, kNaN};
    unsigned open = 3;  // the searches still going
    for (;;) {
        const unsigned done = lanes::lane_bits(e.done), failed = lanes::lane_bits(e.failed);
        double b[2];
        lanes::store(b, r.b);
        for (unsigned k = 0; k < 2; ++k) {
            if (((open >> k) & 1u) == 0 || (((done | failed) >> k) & 1u) == 0) continue;
            if ((done >> k) & 1u) root[k] = b[k];
            open &= ~(1u << k);
        }
        if (open == 0) break;
        e = brent_take(r, cubic(r.s, c0, c1, c2, c3), tol, max_iter.value);
    }
    return Py_BuildValue("(dddd)", scalar_a, scalar_b, root[0], root[1]);
}

constexpr py::FunctionDef d1 = py::function<brent_pair>(
    "brent_pair", {"a0", "a1", "a2", "a3", "b0", "b1", "b2", "b3", "lo", "hi", "tol", "max_iter"},
    "Two cubics' roots by Brent, scalar and in lanes: (scalar a, scalar b, lanes a, lanes b).");
Register r1(py::callable<d1>);

}  // namespace

}  // namespace quelm::testing

// Test hooks for the builtin stand-ins: the suite checks them against Python integers
// and a reference powering loop, in whichever form this build compiled.
#include "testing/registry.hpp"

#include <cstdint>

#include "quelm/core/portable.hpp"

namespace quelm::testing {

namespace {

using py::Args;

PyObject* mul_high_u64_fn(Args& a) {
    std::uint64_t x = 0, y = 0;
    if (!a.all(x, y)) return nullptr;
    return py::to_py(mul_high_u64(x, y));
}

// (wrapped result, overflowed) for the checked unsigned 64-bit operation.
template <bool Add>
PyObject* checked_u64_fn(Args& a) {
    std::uint64_t x = 0, y = 0, out = 0;
    if (!a.all(x, y)) return nullptr;
    const bool overflowed = Add ? add_overflows(x, y, out) : mul_overflows(x, y, out);
    py::Ref value(py::to_py(out));
    if (!value) return nullptr;
    return PyTuple_Pack(2, value.get(), overflowed ? Py_True : Py_False);
}

PyObject* powi_fn(Args& a) {
    double x = 0.0, n = 0.0;
    if (!a.all(x, n)) return nullptr;
    return py::to_py(powi(x, static_cast<int>(n)));
}

const py::FunctionDef d1 = {"mul_high_u64(a, b)\n--\n\nHigh 64 bits of the 128-bit product.", &mul_high_u64_fn};
const py::FunctionDef d2 = {"mul_overflows_u64(a, b)\n--\n\n(a * b mod 2**64, overflowed).", &checked_u64_fn<false>};
const py::FunctionDef d3 = {"add_overflows_u64(a, b)\n--\n\n(a + b mod 2**64, overflowed).", &checked_u64_fn<true>};
const py::FunctionDef d4 = {"powi(x, n)\n--\n\nx to the integer power n.", &powi_fn};
Register r1(d1), r2(d2), r3(d3), r4(d4);

}  // namespace

}  // namespace quelm::testing

// Test hooks for the builtin stand-ins: the suite checks them against Python integers
// and a reference powering loop, in whichever form this build compiled.
#include "testing/registry.hpp"

#include <cstdint>

#include "quelm/core/portable.hpp"

namespace quelm::testing {

namespace {

PyObject* mul_high_u64_fn(std::uint64_t x, std::uint64_t y) { return py::to_py(mul_high_u64(x, y)); }

// (wrapped result, overflowed) for the checked unsigned 64-bit operation.
template <bool Add>
PyObject* checked_u64_fn(std::uint64_t x, std::uint64_t y) {
    std::uint64_t out = 0;
    const bool overflowed = Add ? add_overflows(x, y, out) : mul_overflows(x, y, out);
    py::Ref value(py::to_py(out));
    if (!value) return nullptr;
    return PyTuple_Pack(2, value.get(), overflowed ? Py_True : Py_False);
}

PyObject* powi_fn(double x, double n) { return py::to_py(powi(x, static_cast<int>(n))); }

constexpr py::FunctionDef d1 =
    py::function<mul_high_u64_fn>("mul_high_u64", {"a", "b"}, "High 64 bits of the 128-bit product.");
constexpr py::FunctionDef d2 =
    py::function<checked_u64_fn<false>>("mul_overflows_u64", {"a", "b"}, "(a * b mod 2**64, overflowed).");
constexpr py::FunctionDef d3 =
    py::function<checked_u64_fn<true>>("add_overflows_u64", {"a", "b"}, "(a + b mod 2**64, overflowed).");
constexpr py::FunctionDef d4 = py::function<powi_fn>("powi", {"x", "n"}, "x to the integer power n.");
Register r1(py::callable<d1>), r2(py::callable<d2>), r3(py::callable<d3>), r4(py::callable<d4>);

}  // namespace

}  // namespace quelm::testing

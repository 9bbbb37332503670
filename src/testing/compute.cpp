// The compute step exposed to the tests: its cost beside a call that keeps the lock, and
// an exception thrown while the lock is released.
#include "testing/registry.hpp"

#include <new>
#include <stdexcept>

namespace quelm::testing {

namespace {

PyObject* held(double x) {
    return py::finish(Result<double>(x));
}

PyObject* released(double x) {
    return py::finish(py::compute([&] { return Result<double>(x); }));
}

// The lock must be back before the exception becomes a Python one.
PyObject* released_throw(std::uint64_t which) {
    return py::finish(py::compute([&](Cancel&) -> Result<double> {
        if (which == 0) throw std::bad_alloc();
        throw std::runtime_error("thrown without the lock");
    }));
}

constexpr py::FunctionDef def_held = py::function<held>("held", {"x"}, "x, computed with the lock held.");
constexpr py::FunctionDef def_released =
    py::function<released>("released", {"x"}, "x, computed with the lock released.");
constexpr py::FunctionDef def_released_throw = py::function<released_throw>(
    "released_throw", {"which"}, "Throw from a computation running without the lock (0: bad_alloc).");
QUELM_TESTING(def_held);
QUELM_TESTING(def_released);
QUELM_TESTING(def_released_throw);

}  // namespace

}  // namespace quelm::testing

// The size of this process's worker pool, so a test can check how a process sized it
// (starts the pool if it has not started yet).
#include "quelm/core/parallel.hpp"
#include "testing/registry.hpp"

namespace quelm::testing {

namespace {

PyObject* worker_pool_size() { return py::to_py(static_cast<std::uint64_t>(quelm::pool_size())); }

constexpr py::FunctionDef def_pool_size = py::function<worker_pool_size>(
    "pool_size", {}, "Threads of the worker pool, the caller included (starts the pool).");
QUELM_TESTING(def_pool_size);

}  // namespace

}  // namespace quelm::testing

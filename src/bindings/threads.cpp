// Run-time control of the worker pool from outside: C functions exported from the extension
// for ctypes and for threadpoolctl (the controller scikit-learn, joblib and Dask use against
// nested oversubscription; quelm/_threads.py registers it).
#include "frame/compute.hpp"
#include "frame/ref.hpp"

#include <cstddef>

#include "quelm/core/parallel.hpp"

#if defined(_WIN32)
#define QUELM_C_API extern "C" __declspec(dllexport)
#else
#define QUELM_C_API extern "C" __attribute__((visibility("default")))
#endif

// The threads that take part in a pooled call, the caller included.
QUELM_C_API int quelm_get_num_threads(void) {
    try {
        return static_cast<int>(quelm::pool_size());
    } catch (...) {
        return -1;
    }
}

// Sets that count (values below 1 count as 1); returns the new count, or -1 when threads
// could not be started. Needs no interpreter lock, as ctypes calls it without.
QUELM_C_API int quelm_set_num_threads(int threads) {
    try {
        quelm::set_pool_size(threads < 1 ? 1 : static_cast<std::size_t>(threads));
        return static_cast<int>(quelm::pool_size());
    } catch (...) {
        return -1;
    }
}

// 1: every call keeps the interpreter lock while it computes, as before the lock was
// released; 0 (the default): the lock is released. Results are the same either way; the
// benchmark runner uses it to measure what releasing costs a single call.
QUELM_C_API void quelm_keep_lock(int on) { quelm::py::detail::keep_lock(on != 0); }

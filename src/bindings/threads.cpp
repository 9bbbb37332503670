// Run-time control of the worker pool from outside: two C functions exported from the
// extension (for ctypes), and the glue that registers the pool with threadpoolctl, the
// controller scikit-learn, joblib and Dask use against nested oversubscription.
#include "bindings/frame/compute.hpp"
#include "bindings/frame/ref.hpp"

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

namespace quelm::py {

namespace {

// Registers at once when threadpoolctl is loaded, else when it is first imported: a finder at
// the head of sys.meta_path wraps threadpoolctl's loader and registers after the module ran.
// threadpoolctl is never imported here, and versions without register() are left alone.
constexpr const char* kGlue = R"py(
import sys

def _register(tp, version):
    if not hasattr(tp, "register") or not hasattr(tp, "LibController"):
        return

    class QuelmController(tp.LibController):
        user_api = "quelm"
        internal_api = "quelm"
        filename_prefixes = ("quelm",)
        check_symbols = ("quelm_get_num_threads", "quelm_set_num_threads")

        def get_num_threads(self):
            return self.dynlib.quelm_get_num_threads()

        def set_num_threads(self, num_threads):
            return self.dynlib.quelm_set_num_threads(int(num_threads))

        def get_version(self):
            return version

    QuelmController.__module__ = "quelm"
    tp.register(QuelmController)


class _RegisterWithThreadpoolctl:
    def __init__(self, version):
        self.version = version

    def find_spec(self, name, path=None, target=None):
        if name != "threadpoolctl":
            return None
        import importlib.util
        sys.meta_path.remove(self)
        try:
            spec = importlib.util.find_spec(name)
        except Exception:
            spec = None
        if spec is None or spec.loader is None or not hasattr(spec.loader, "exec_module"):
            sys.meta_path.insert(0, self)  # not installed (yet): try again on a later import
            return None
        run_module = spec.loader.exec_module
        version = self.version

        def exec_module(module):
            del spec.loader.exec_module  # once: the loader's own method is back
            run_module(module)
            try:
                _register(module, version)
            except Exception as exc:
                import warnings
                warnings.warn(f"quelm could not register its pool with threadpoolctl: {exc!r}",
                              RuntimeWarning, stacklevel=2)

        spec.loader.exec_module = exec_module
        return spec


def install(version):
    tp = sys.modules.get("threadpoolctl")
    if tp is not None and hasattr(tp, "threadpool_info"):
        _register(tp, version)
    else:
        sys.meta_path.insert(0, _RegisterWithThreadpoolctl(version))
)py";

}  // namespace

// At import: registers now or arranges to. Returns -1 with an exception on failure.
int install_thread_control(const char* version) {
    Ref globals(PyDict_New());
    Ref name(PyUnicode_FromString("quelm"));
    if (!globals || !name || PyDict_SetItemString(globals.get(), "__builtins__", PyEval_GetBuiltins()) < 0 ||
        PyDict_SetItemString(globals.get(), "__name__", name.get()) < 0)
        return -1;
    Ref ran(PyRun_String(kGlue, Py_file_input, globals.get(), globals.get()));
    if (!ran) return -1;
    PyObject* install = PyDict_GetItemString(globals.get(), "install");  // borrowed
    if (install == nullptr) {
        PyErr_SetString(PyExc_SystemError, "quelm: thread-control glue lost its entry point");
        return -1;
    }
    Ref done(PyObject_CallFunction(install, "s", version));
    return done ? 0 : -1;
}

}  // namespace quelm::py

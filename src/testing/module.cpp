// _quelm_testing: internal toolkit pieces exposed for the test suite only.
#include "testing/registry.hpp"

#include <stdexcept>

namespace quelm::testing {

std::vector<const py::Callable*>& registry() {
    static std::vector<const py::Callable*> r;
    return r;
}

namespace {

// Frame checks: a stray C++ exception and an allocation failure at the boundary.
PyObject* throw_internal(const std::string& text) {
    throw std::logic_error(text);
}
PyObject* throw_bad_alloc() { throw std::bad_alloc(); }

constexpr py::FunctionDef def_throw_internal = py::function<throw_internal>(
    "throw_internal", {"text"}, "Throw std::logic_error(text).");
QUELM_TESTING(def_throw_internal);
constexpr py::FunctionDef def_throw_bad_alloc = py::function<throw_bad_alloc>(
    "throw_bad_alloc", {}, "Throw std::bad_alloc.");
QUELM_TESTING(def_throw_bad_alloc);

PyModuleDef kModule = {PyModuleDef_HEAD_INIT, "_quelm_testing", "Test-only internals of quelm.", -1,
                       nullptr, nullptr, nullptr, nullptr, nullptr};

}  // namespace

}  // namespace quelm::testing

PyMODINIT_FUNC PyInit__quelm_testing() {
    using namespace quelm;
    py::Ref module(PyModule_Create(&testing::kModule));
    if (!module) return nullptr;
    for (const py::Callable* c : testing::registry()) {
        PyMethodDef* m = py::make_method(*c, nullptr, 0);
        if (m == nullptr) return nullptr;
        PyObject* f = PyCFunction_NewEx(m, nullptr, nullptr);
        if (f == nullptr || PyModule_AddObject(module.get(), m->ml_name, f) < 0) return nullptr;
    }
    if (PyModule_AddObjectRef(module.get(), "InternalFault", py::internal_fault_type()) < 0) return nullptr;
#ifdef Py_GIL_DISABLED
    if (PyUnstable_Module_SetGIL(module.get(), Py_MOD_GIL_NOT_USED) < 0) return nullptr;
#endif
    return module.release();
}

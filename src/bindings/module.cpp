// The compiled module quelm._core: its entry point and the registration table in public order.
#include "frame/arrays.hpp"
#include "frame/call.hpp"
#include "frame/classes.hpp"
#include "frame/registry.hpp"
#include "frame/result.hpp"

#include <cstdint>
#include <cstring>

namespace quelm::py {

namespace {

constexpr Section kSection = Section::Errors;
constexpr std::string_view kGuide = "errors";  // the guide page of its names

PyTypeObject* internal_fault_class() { return reinterpret_cast<PyTypeObject*>(internal_fault_type()); }
QUELM_PUBLIC_CLASS(internal_fault_class);
PyTypeObject* element_error_class() { return reinterpret_cast<PyTypeObject*>(vec::element_error_type()); }
QUELM_PUBLIC_CLASS(element_error_class);

PyModuleDef kModule = {
    PyModuleDef_HEAD_INIT,
    "quelm._core",
    "The compiled functions and classes of quelm (imported by the quelm package).",
    0,  // >= 0 so that a re-import runs the init entry, which hands back the first module
    nullptr, nullptr, nullptr, nullptr, nullptr,
};

PyObject* g_module = nullptr;
int64_t g_interpreter = -1;

int add_named(PyObject* module, PyObject* all, const char* name, PyObject* value) {
    Ref owned(value);
    if (!owned) return -1;
    if (PyModule_AddObjectRef(module, name, owned.get()) < 0) return -1;
    Ref text(PyUnicode_FromString(name));
    if (!text || PyList_Append(all, text.get()) < 0) return -1;
    return 0;
}

PyObject* create_module() {
    Ref module(PyModule_Create(&kModule));
    if (!module) return nullptr;
    Ref all(PyList_New(0));
    if (!all || PyModule_AddObjectRef(module.get(), "__all__", all.get()) < 0) return nullptr;
    // The functions belong to the package, where users find them (reprs, docs, pickles).
    Ref name(PyUnicode_InternFromString("quelm"));
    if (!name) return nullptr;
    // The array forms in registration order (a class's with its type), then the names in
    // the module's order.
    for (const PublicEntry& e : public_entries()) {
        if (e.function != nullptr) {
            vec::add_form(*e.function->def);
        } else if (e.make_class() == nullptr) {
            return nullptr;
        }
    }
    for (const PublicEntry& e : module_entries()) {
        if (e.function != nullptr) {
            PyMethodDef* m = make_method(*e.function, nullptr, 0);
            if (m == nullptr) return nullptr;
            Ref f(PyCFunction_NewEx(m, nullptr, name.get()));
            if (e.section == Section::Private) {
                if (!f || PyModule_AddObjectRef(module.get(), m->ml_name, f.get()) < 0) return nullptr;
            } else if (add_named(module.get(), all.get(), m->ml_name, f.release()) < 0) {
                return nullptr;
            }
            continue;
        }
        PyTypeObject* type = e.make_class();
        if (type == nullptr) return nullptr;
        const char* dot = std::strrchr(type->tp_name, '.');
        if (add_named(module.get(), all.get(), dot ? dot + 1 : type->tp_name,
                      Py_NewRef(reinterpret_cast<PyObject*>(type))) < 0)
            return nullptr;
    }
#ifdef Py_GIL_DISABLED
    // Free-threaded builds: the module's own state is immutable after import or atomic, so it
    // does not need the interpreter lock (see docs/concurrency.md).
    if (PyUnstable_Module_SetGIL(module.get(), Py_MOD_GIL_NOT_USED) < 0) return nullptr;
#endif
    return module.release();
}

}  // namespace

}  // namespace quelm::py

PyMODINIT_FUNC PyInit__core() {
    using namespace quelm::py;
    const int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (g_module != nullptr) {
        if (id != g_interpreter) {
            PyErr_SetString(PyExc_ImportError,
                            "quelm does not support sub-interpreters: it can only be imported "
                            "in the interpreter that first imported it");
            return nullptr;
        }
        return Py_NewRef(g_module);  // a re-import hands back the first module
    }
    PyObject* module = create_module();
    if (module == nullptr) return nullptr;
    g_module = Py_NewRef(module);
    g_interpreter = id;
    return module;
}

// The module quelm: its entry point and the registration table in public order.
#include "bindings/frame/call.hpp"
#include "bindings/frame/classes.hpp"
#include "bindings/frame/result.hpp"

#include <cstdint>
#include <cstring>

namespace quelm::py {

extern const FunctionDef def_black_scholes;
extern const FunctionDef def_price;
extern const FunctionDef def_binomial;
extern const FunctionDef def_monte_carlo;
extern const FunctionDef def_lsm;
extern const FunctionDef def_greeks;
extern const FunctionDef def_implied_volatility;
extern const FunctionDef def_barrier_price;
extern const FunctionDef def_lookback_price;
extern const FunctionDef def_asian_price;
extern const FunctionDef def_heston_price;
extern const FunctionDef def_heston_calibrate;
extern const FunctionDef def_sabr_vol;
extern const FunctionDef def_sabr_calibrate;
extern const FunctionDef def_svi_vol;
extern const FunctionDef def_svi_calibrate;
extern const FunctionDef def_simulate_process;
extern const FunctionDef def_stats;
extern const FunctionDef def_sharpe;
extern const FunctionDef def_sortino;
extern const FunctionDef def_max_drawdown;
extern const FunctionDef def_value_at_risk;
extern const FunctionDef def_expected_shortfall;
extern const FunctionDef def_beta;
extern const FunctionDef def_tracking_error;
extern const FunctionDef def_info_ratio;
extern const FunctionDef def_jarque_bera;
extern const FunctionDef def_acf;
extern const FunctionDef def_portfolio_value;
extern const FunctionDef def_twr;
extern const FunctionDef def_mwr;
extern const FunctionDef def_allocation;
extern const FunctionDef def_covariance_matrix;
extern const FunctionDef def_portfolio_risk;
extern const FunctionDef def_optimize;
extern const FunctionDef def_differential_ml;
extern const FunctionDef def_american_ml;
PyTypeObject* yield_curve_type();
PyTypeObject* fixed_rate_bond_type();
PyTypeObject* vol_surface_type();
PyObject* create_kernels_module();
int install_thread_control(const char* version);

namespace {

// Registration order is part of the interface: __all__ follows it.
const FunctionDef* const kFunctions[] = {
    &def_black_scholes,
    &def_price,
    &def_binomial,
    &def_monte_carlo,
    &def_lsm,
    &def_greeks,
    &def_implied_volatility,
    &def_barrier_price,
    &def_lookback_price,
    &def_asian_price,
    &def_heston_price,
    &def_heston_calibrate,
    &def_sabr_vol,
    &def_sabr_calibrate,
    &def_svi_vol,
    &def_svi_calibrate,
    &def_simulate_process,
    &def_stats,
    &def_sharpe,
    &def_sortino,
    &def_max_drawdown,
    &def_value_at_risk,
    &def_expected_shortfall,
    &def_beta,
    &def_tracking_error,
    &def_info_ratio,
    &def_jarque_bera,
    &def_acf,
    &def_portfolio_value,
    &def_twr,
    &def_mwr,
    &def_allocation,
    &def_covariance_matrix,
    &def_portfolio_risk,
    &def_optimize,
    &def_differential_ml,
    &def_american_ml,
};

PyTypeObject* (*const kClasses[])() = {&yield_curve_type, &fixed_rate_bond_type, &vol_surface_type};

PyModuleDef kModule = {
    PyModuleDef_HEAD_INIT,
    "quelm",
    "The `quelm` Python module.",
    0,  // >= 0 so that a re-import runs the init entry, which hands back the first module
    nullptr, nullptr, nullptr, nullptr, nullptr,
};

constexpr const char* kVersion = "0.1.0";

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

// Attributes made on first use: `vec` (the array API, importing NumPy only then) and
// `__path__`, the private folder beside the extension that holds the submodule's source.
PyObject* module_getattr(PyObject* module, PyObject* name) {
    if (PyUnicode_CompareWithASCIIString(name, "vec") == 0) return PyImport_ImportModule("quelm.vec");
    if (PyUnicode_CompareWithASCIIString(name, "__path__") == 0) {
        Ref file(PyObject_GetAttrString(module, "__file__"));
        if (!file) return nullptr;
        Ref os_path(PyImport_ImportModule("os.path"));
        if (!os_path) return nullptr;
        Ref dir(PyObject_CallMethod(os_path.get(), "dirname", "O", file.get()));
        if (!dir) return nullptr;
        Ref folder(PyObject_CallMethod(os_path.get(), "join", "Os", dir.get(), "quelm_py"));
        if (!folder) return nullptr;
        Ref path(PyList_New(1));
        if (!path) return nullptr;
        PyList_SET_ITEM(path.get(), 0, folder.release());
        if (PyObject_SetAttrString(module, "__path__", path.get()) < 0) return nullptr;
        return path.release();
    }
    PyErr_Format(PyExc_AttributeError, "module 'quelm' has no attribute '%U'", name);
    return nullptr;
}

PyMethodDef kGetattr = {"__getattr__", &module_getattr, METH_O, nullptr};

PyObject* create_module() {
    Ref module(PyModule_Create(&kModule));
    if (!module) return nullptr;
    Ref all(PyList_New(0));
    if (!all || PyModule_AddObjectRef(module.get(), "__all__", all.get()) < 0) return nullptr;
    if (add_named(module.get(), all.get(), "__version__", PyUnicode_FromString(kVersion)) < 0) return nullptr;
    Ref name(PyModule_GetNameObject(module.get()));
    if (!name) return nullptr;
    for (const FunctionDef* def : kFunctions) {
        PyMethodDef* m = make_method(*def, nullptr, 0);
        if (m == nullptr) return nullptr;
        if (add_named(module.get(), all.get(), m->ml_name, PyCFunction_NewEx(m, nullptr, name.get())) < 0)
            return nullptr;
    }
    for (auto make : kClasses) {
        PyTypeObject* type = make();
        if (type == nullptr) return nullptr;
        const char* dot = std::strrchr(type->tp_name, '.');
        if (add_named(module.get(), all.get(), dot ? dot + 1 : type->tp_name,
                      Py_NewRef(reinterpret_cast<PyObject*>(type))) < 0)
            return nullptr;
    }
    Ref getattr(PyCFunction_NewEx(&kGetattr, module.get(), name.get()));
    if (!getattr || PyModule_AddObjectRef(module.get(), "__getattr__", getattr.get()) < 0) return nullptr;
    Ref kernels(create_kernels_module());
    if (!kernels || PyDict_SetItemString(PyImport_GetModuleDict(), "quelm._kernels", kernels.get()) < 0)
        return nullptr;
    if (install_thread_control(kVersion) < 0) return nullptr;
#ifdef Py_GIL_DISABLED
    // Free-threaded builds: the module's own state is immutable after import or atomic, so it
    // does not need the interpreter lock (see docs/concurrency.md).
    if (PyUnstable_Module_SetGIL(module.get(), Py_MOD_GIL_NOT_USED) < 0) return nullptr;
#endif
    return module.release();
}

}  // namespace

}  // namespace quelm::py

PyMODINIT_FUNC PyInit_quelm() {
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

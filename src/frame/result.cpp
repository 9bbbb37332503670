#include "frame/result.hpp"

namespace quelm::py {

std::vector<RecordInfo (*)()>& declared_records() {
    static auto* r = new std::vector<RecordInfo (*)()>();  // filled during static initialisation
    return *r;
}

PyObject* raise(const Error& e) {
    if (e.kind == Kind::Cancelled) {
        // The signal handler may already have raised its own exception; keep it.
        if (!PyErr_Occurred()) PyErr_SetNone(PyExc_KeyboardInterrupt);
        return nullptr;
    }
    const std::string msg = e.render();
    Ref text(PyUnicode_FromStringAndSize(msg.data(), static_cast<Py_ssize_t>(msg.size())));
    if (text) PyErr_SetObject(e.kind == Kind::Memory ? PyExc_MemoryError : PyExc_ValueError, text.get());
    return nullptr;
}

PyObject* raise_value_error(const std::string& message) {
    Ref text(PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
    if (text) PyErr_SetObject(PyExc_ValueError, text.get());
    return nullptr;
}

PyObject* internal_fault_type() {
    // Created once per process; it lives as long as the process.
    static PyObject* type = PyErr_NewExceptionWithDoc(
        "quelm.InternalFault",
        "A broken internal invariant inside quelm (a bug, never bad input).\n\n"
        "Derived directly from BaseException so that `except Exception` does not hide it.",
        PyExc_BaseException, nullptr);
    return type != nullptr ? type : PyExc_SystemError;
}

PyObject* to_py(std::string_view s) {
    return PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()));
}

PyObject* to_py(std::span<const double> v) {
    return make_list(v.size(), [&](std::size_t i) { return PyFloat_FromDouble(v[i]); });
}

PyObject* to_py(const std::vector<double>& v) { return to_py(std::span<const double>(v)); }

PyObject* to_py(const std::vector<std::vector<double>>& m) {
    return make_list(m.size(), [&](std::size_t i) { return to_py(m[i]); });
}

PyObject* to_py_pair(double a, double b) {
    Ref x(PyFloat_FromDouble(a));
    Ref y(PyFloat_FromDouble(b));
    if (!x || !y) return nullptr;
    return PyTuple_Pack(2, x.get(), y.get());
}

PyObject* none() { return Py_NewRef(Py_None); }

}  // namespace quelm::py

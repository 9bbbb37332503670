// Results and errors: Python objects from core values, and errors to exceptions.
#pragma once

#include "bindings/frame/ref.hpp"
#include "quelm/core/cancel.hpp"
#include "quelm/core/error.hpp"
#include "quelm/core/text.hpp"

#include <array>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace quelm::py {

// Raise ValueError with the rendered message (MemoryError for a working set that cannot
// fit); returns nullptr for `return raise(e);`.
PyObject* raise(const Error& e);
// Raise ValueError with a binding-level message (no kind prefix).
PyObject* raise_value_error(const std::string& message);
// The internal-fault exception type (derived directly from BaseException).
PyObject* internal_fault_type();

// New references; nullptr with an exception set on failure.
inline PyObject* to_py(double v) { return PyFloat_FromDouble(v); }
inline PyObject* to_py(std::uint64_t v) { return PyLong_FromUnsignedLongLong(v); }
PyObject* to_py(const std::string& s);
PyObject* to_py(std::span<const double> v);                    // list of floats
PyObject* to_py(const std::vector<double>& v);
PyObject* to_py(const std::vector<std::vector<double>>& m);    // list of lists
PyObject* to_py_pair(double a, double b);                      // 2-tuple of floats
PyObject* none();
template <class T>
PyObject* to_py(const std::optional<T>& v) {
    return v ? to_py(*v) : none();
}

// Dict keys created once (interned) and reused for every result of one shape.
template <std::size_t N>
class KeySet {
public:
    explicit KeySet(const std::array<const char*, N>& names) {
        for (std::size_t i = 0; i < N; ++i) keys_[i] = PyUnicode_InternFromString(names[i]);
    }
    [[nodiscard]] PyObject* operator[](std::size_t i) const { return keys_[i]; }

private:
    std::array<PyObject*, N> keys_{};
};

// Build a dict from keys and N new references (stolen, even on failure).
PyObject* make_dict(PyObject* const* keys, std::initializer_list<PyObject*> values);
template <std::size_t N>
PyObject* make_dict(const KeySet<N>& keys, std::initializer_list<PyObject*> values) {
    std::array<PyObject*, N> ks{};
    for (std::size_t i = 0; i < N; ++i) ks[i] = keys[i];
    return make_dict(ks.data(), values);
}

// Turn a parse result into its value or a ValueError; ok=false when it raised.
template <class T>
bool parsed(const Parsed<T>& p, T& out) {
    if (p) {
        out = *p;
        return true;
    }
    raise_value_error(p.error());
    return false;
}

// A cancellation token wired to the interpreter's signal check (Ctrl-C).
// After an interrupted computation, finish() returns nullptr with
// KeyboardInterrupt (or whatever the signal handler raised) set.
class Interrupt {
public:
    Interrupt();
    Cancel& token() { return token_; }
    [[nodiscard]] bool interrupted() const { return token_.stopped(); }

private:
    Cancel token_;
};

// The usual tail of a binding: value -> Python object, error -> exception.
template <class T, class Make>
PyObject* finish(const Result<T>& r, Make&& make) {
    if (!r) return raise(r.error());
    return make(*r);
}
template <class T, class Make>
PyObject* finish(const Result<T>& r, Interrupt& intr, Make&& make) {
    if (intr.interrupted()) {
        if (!PyErr_Occurred()) PyErr_SetNone(PyExc_KeyboardInterrupt);
        return nullptr;
    }
    return finish(r, make);
}
inline PyObject* finish(const Result<double>& r) {
    return finish(r, [](double v) { return to_py(v); });
}

}  // namespace quelm::py

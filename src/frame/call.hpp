// The call frame: one table-driven argument parser for every function and method.
// A callable is declared once (signature.hpp): its parameter table gives the names,
// the required count and the defaults, and the docstring's text signature line
// ("name(a, b, c=1.0)" or "name($self, x)") is written from the same table.
#pragma once

#include "frame/signature.hpp"

namespace quelm::py {

namespace detail {

struct Bound;  // a registered callable: its interned names and method definition
PyObject* dispatch(const Bound& b, PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

// One entry point per declaration: it finds its callable's state without a lookup.
template <const FunctionDef& D>
struct Slot {
    static inline const Bound* bound = nullptr;
    static PyObject* entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
        return dispatch(*bound, self, args, nargs, kwnames);
    }
};

}  // namespace detail

// A declaration with its entry point: what the module, a class or the test module registers.
struct Callable {
    const FunctionDef* def;
    _PyCFunctionFastWithKeywords entry;
    const detail::Bound** bound;
};

template <const FunctionDef& D>
inline constexpr Callable callable{&D, &detail::Slot<D>::entry, &detail::Slot<D>::bound};

// Build a PyMethodDef for a callable (the declaration must outlive the process). owner is
// the class name, or nullptr for a module function. nullptr with an exception on failure.
[[nodiscard]] PyMethodDef* make_method(const Callable& c, const char* owner, int extra_flags);

// The text signature line and description, as the docstring shows them.
[[nodiscard]] std::string docstring(const FunctionDef& def);

}  // namespace quelm::py

// Class support: heap types that cannot be subclassed. Instances own one core value;
// static methods create them, or a constructor when the class declares one.
#pragma once

#include "frame/call.hpp"

#include <new>
#include <utility>

namespace quelm::py {

struct GetterDef {
    const char* name;
    const char* doc;
    PyObject* (*get)(PyObject* self);
    const char* annotation;  // the stub's type of the value
};

struct ClassDef {
    const char* name;  // "YieldCurve"; the type is quelm.<name>
    const char* doc;
    const Callable* methods;  // static unless declared with method()
    std::size_t n_methods;
    const GetterDef* getters;
    std::size_t n_getters;
    // Optional hooks (nullptr = the default behaviour): a readable repr, and value
    // equality between two instances of this type (== and != only; other types
    // and orderings give NotImplemented). A type with equality is unhashable.
    PyObject* (*repr)(PyObject* self) = nullptr;
    bool (*equal)(PyObject* a, PyObject* b) = nullptr;
    // A hash consistent with equal (makes a type with equality hashable).
    Py_hash_t (*hash)(PyObject* self) = nullptr;
    // Called as the class itself (`Calendar("uk")`): a function declared like a static
    // method, named as the class, returning a new instance. Its signature heads the
    // class docstring.
    const Callable* constructor = nullptr;
};

// Create the heap type (once per process). nullptr with an exception on failure.
PyTypeObject* create_class(const ClassDef& def);

// The definition a type was created from, or nullptr for a type the frame did not create.
const ClassDef* class_def(PyTypeObject* type);

// A new instance that takes ownership of value (destroyed with def.destroy).
PyObject* wrap_instance(PyTypeObject* type, void* value, void (*destroy)(void*));
template <class T>
T& value_of(PyObject* self) {
    return *static_cast<T*>(instance_value(self));
}

// Move a core value into a new instance of type.
template <class T>
void destroy_value(void* p) {
    delete static_cast<T*>(p);
}

template <class T>
PyObject* wrap(PyTypeObject* type, T value) {
    auto* p = new T(std::move(value));
    PyObject* o = wrap_instance(type, p, &destroy_value<T>);
    if (o == nullptr) delete p;
    return o;
}

}  // namespace quelm::py

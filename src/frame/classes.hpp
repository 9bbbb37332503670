// Class support: heap types that cannot be subclassed. Instances own one core value;
// static methods create them, or a constructor when the class declares one.
#pragma once

#include "frame/call.hpp"
#include "frame/result.hpp"

#include <cstdint>
#include <functional>
#include <new>
#include <type_traits>
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
    // A container's len() and iter(): a count, and a new iterator over its items.
    Py_ssize_t (*length)(PyObject* self) = nullptr;
    PyObject* (*iter)(PyObject* self) = nullptr;
    const char* item_annotation = nullptr;  // the stub's type of what iter gives
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

// Pickle support for an instance rebuilt by fn(*args, **kwargs): the reduce value
// (functools.partial(fn, **kwargs), args). nullptr with an exception on failure.
PyObject* partial_reduce(PyObject* fn, PyObject* args, PyObject* kwargs);

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

namespace detail {

// The core type an attribute reads: a member's (data or const member function) class, or
// the parameter of a function of const T&.
template <class R>
struct ReadFrom;
template <class C, class V>
struct ReadFrom<V C::*> {
    using type = C;
};
template <class V, class C>
struct ReadFrom<V (*)(const C&)> {
    using type = C;
};
template <auto Read>
using ReadFromT = typename ReadFrom<decltype(Read)>::type;

// A value shown without a conversion of its own: to_py, an unsigned count as an int.
template <class V>
PyObject* attribute_to_py(const V& v) {
    if constexpr (std::is_unsigned_v<V> && !std::is_same_v<V, bool>) {
        return to_py(static_cast<std::uint64_t>(v));
    } else {
        return to_py(v);
    }
}

template <auto Read, auto Show>
PyObject* get_attribute(PyObject* self) {
    decltype(auto) v = std::invoke(Read, value_of<ReadFromT<Read>>(self));
    if constexpr (std::is_null_pointer_v<decltype(Show)>) {
        return attribute_to_py(v);
    } else {
        return Show(v);
    }
}

template <auto First, auto... Rest>
struct Path {
    static decltype(auto) read(const ReadFromT<First>& x) {
        if constexpr (sizeof...(Rest) == 0) {
            return std::invoke(First, x);
        } else {
            static_assert(std::is_lvalue_reference_v<decltype(std::invoke(First, x))>,
                          "a path steps through references: the value read would not outlive a temporary");
            return Path<Rest...>::read(std::invoke(First, x));
        }
    }
};

}  // namespace detail

// One attribute of a class, a line of its getter table: read by Read from the instance's
// core value (a data member, a const member function or a function of const T&) and shown
// by Show (a function of the value giving a new reference; by default to_py). The instance
// is read as the class Read belongs to, so a member must be the held class's own.
//   attribute<&Deposit::rate>("rate", "The quoted rate.", "float")
template <auto Read, auto Show = nullptr>
constexpr GetterDef attribute(const char* name, const char* doc, const char* annotation) {
    return {name, doc, &detail::get_attribute<Read, Show>, annotation};
}

// A Read through members in turn: path<&Ois::terms, &RateTerms::calendar> reads
// x.terms.calendar.
template <auto... Steps>
inline constexpr auto path = &detail::Path<Steps...>::read;

}  // namespace quelm::py

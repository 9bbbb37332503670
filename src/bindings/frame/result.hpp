// Results and errors: Python objects from core values, and errors to exceptions.
#pragma once

#include "bindings/frame/compute.hpp"
#include "bindings/frame/ref.hpp"
#include "quelm/core/cancel.hpp"
#include "quelm/core/choice.hpp"
#include "quelm/core/error.hpp"
#include "quelm/core/option.hpp"
#include "quelm/core/text.hpp"

#include <array>
#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
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
PyObject* to_py(std::string_view s);
inline PyObject* to_py(const std::string& s) { return to_py(std::string_view(s)); }
inline PyObject* to_py(const char* s) { return to_py(std::string_view(s)); }
inline PyObject* to_py(OptionType t) { return to_py(option_type_name(t)); }
PyObject* to_py(std::span<const double> v);                    // list of floats
PyObject* to_py(const std::vector<double>& v);
PyObject* to_py(const std::vector<std::vector<double>>& m);    // list of lists
PyObject* to_py_pair(double a, double b);                      // 2-tuple of floats

// A list of n items, item(i) giving a new reference (nullptr with an exception stops it).
template <class Item>
PyObject* make_list(std::size_t n, Item&& item) {
    Ref list(PyList_New(static_cast<Py_ssize_t>(n)));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < n; ++i) {
        PyObject* v = item(i);
        if (v == nullptr) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), v);
    }
    return list.release();
}
PyObject* none();
template <class T>
PyObject* to_py(const std::optional<T>& v) {
    return v ? to_py(*v) : none();
}

// One entry of a result dict: its key and how to read its value from the result.
template <class T>
struct Field {
    const char* name;
    PyObject* (*get)(const T&);
};

namespace detail {
template <class M>
struct member_of;
template <class C, class V>
struct member_of<V C::*> {
    using owner = C;
};
template <auto M>
PyObject* member_to_py(const typename member_of<decltype(M)>::owner& r) {
    return to_py(r.*M);
}
}  // namespace detail

namespace detail {
struct AnyField {
    template <class U>
    operator U() const noexcept;  // only probed in unevaluated contexts, never called
};
template <class T, class... A>
constexpr std::size_t count_fields() {
    if constexpr (requires { T{A{}..., AnyField{}}; }) {
        return count_fields<T, A..., AnyField>();
    } else {
        return sizeof...(A);
    }
}
}  // namespace detail

// The number of data members of an aggregate: a result table that covers every member
// asserts record.size() == aggregate_size<T>().
template <class T>
constexpr std::size_t aggregate_size() {
    return detail::count_fields<T>();
}

// The reader of a data member, for a Field: {"delta", member<&Greeks::delta>}.
template <auto M>
inline constexpr auto member = &detail::member_to_py<M>;

// A result's dict shape, declared once as a table of fields (key + reader), so a key
// cannot lose its value. The keys are interned at first use and kept for the life of
// the process (never released, so nothing runs after the interpreter has finalised).
template <class T, std::size_t N>
class Record {
public:
    constexpr explicit Record(const Field<T> (&fields)[N]) {
        for (std::size_t i = 0; i < N; ++i) fields_[i] = fields[i];
    }

    [[nodiscard]] static constexpr std::size_t size() { return N; }

    // A new dict with the fields in table order; nullptr with an exception on failure.
    PyObject* operator()(const T& value) const {
        Ref dict(PyDict_New());
        if (!dict) return nullptr;
        for (std::size_t i = 0; i < N; ++i) {
            // Atomic so that threads of a free-threaded interpreter may race here: interning
            // gives each of them the same object, so whichever store lands is right.
            std::atomic<PyObject*>& key = keys_[i];
            PyObject* k = key.load(std::memory_order_acquire);
            if (k == nullptr) {
                if ((k = PyUnicode_InternFromString(fields_[i].name)) == nullptr) return nullptr;
                key.store(k, std::memory_order_release);
            }
            Ref v(fields_[i].get(value));
            if (!v || PyDict_SetItem(dict.get(), k, v.get()) < 0) return nullptr;
        }
        return dict.release();
    }

private:
    std::array<Field<T>, N> fields_{};
    mutable std::array<std::atomic<PyObject*>, N> keys_{};
};

// A field whose key is its member's own name, so the two cannot disagree:
// QUELM_FIELD(Greeks, delta) is {"delta", member<&Greeks::delta>}.
#define QUELM_FIELD(T, m) ::quelm::py::Field<T>{#m, ::quelm::py::member<&T::m>}

// record<Greeks>({{"delta", member<&Greeks::delta>}, ...}): the field count is deduced.
template <class T, std::size_t N>
constexpr Record<T, N> record(const Field<T> (&fields)[N]) {
    return Record<T, N>(fields);
}

// A list of records, one dict per element.
template <class T, std::size_t N>
PyObject* to_py(std::span<const T> values, const Record<T, N>& shape) {
    return make_list(values.size(), [&](std::size_t i) { return shape(values[i]); });
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

// Read a string option from its table into out; false with ValueError set when rejected.
template <class E, std::size_t N>
bool choose(const Choices<E, N>& choices, std::string_view text, E& out) {
    return parsed(parse_choice(choices, text), out);
}

// The usual tail of a binding: value -> Python object, error -> exception (a cancelled
// computation -> KeyboardInterrupt, see raise()).
template <class T, class Make>
PyObject* finish(const Result<T>& r, Make&& make) {
    if (!r) return raise(r.error());
    return make(*r);
}
inline PyObject* finish(const Result<double>& r) {
    return finish(r, [](double v) { return to_py(v); });
}

// A method that only forwards to a const member of the core value returning Result<double>:
// method<query<&YieldCurve::discount>>(...).
template <auto M>
struct Query;
template <class C, class... A, Result<double> (C::*M)(A...) const>
struct Query<M> {
    static PyObject* call(const C& value, A... args) { return finish((value.*M)(args...)); }
};
template <auto M>
inline constexpr auto query = &Query<M>::call;

// The same for a member that takes one value and a cancellation token (a long pass over
// the data): it runs in the compute step, without the interpreter lock.
template <auto M>
struct PolledQuery;
template <class C, class X, Result<double> (C::*M)(X, Cancel&) const>
struct PolledQuery<M> {
    static PyObject* call(const C& value, X x) {
        return finish(compute([&](Cancel& c) { return (value.*M)(x, c); }));
    }
};
template <auto M>
inline constexpr auto polled_query = &PolledQuery<M>::call;

}  // namespace quelm::py

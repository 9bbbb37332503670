// Results and errors: Python objects from core values, and errors to exceptions.
#pragma once

#include "frame/annotations.hpp"
#include "frame/compute.hpp"
#include "frame/ref.hpp"
#include "quelm/core/cancel.hpp"
#include "quelm/core/choice.hpp"
#include "quelm/core/error.hpp"
#include "quelm/core/text.hpp"

#include <array>
#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
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
// A string option's value as its first spelling (options.hpp defines it for the enums that
// have a table of spellings).
template <class E>
    requires std::is_enum_v<E>
PyObject* to_py(E e);
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

// One entry of a result dict: its key, how to read its value from the result, the stub's
// type of that value, and (for a number) the value as a float64, which array results store.
template <class T>
struct Field {
    const char* name;
    PyObject* (*get)(const T&);
    const char* (*annotation)() = nullptr;
    double (*real)(const T&) = nullptr;
};

namespace detail {
template <class M>
struct member_of;
template <class C, class V>
struct member_of<V C::*> {
    using owner = C;
    using value = V;
};
template <auto M>
PyObject* member_to_py(const typename member_of<decltype(M)>::owner& r) {
    return to_py(r.*M);
}
template <class V>
constexpr bool is_real_like = std::is_arithmetic_v<V> && !std::is_same_v<V, bool>;
template <class V>
struct optional_value {
    using type = void;
};
template <class V>
struct optional_value<std::optional<V>> {
    using type = V;
};
// A member as a float64: a number as itself, an absent optional as NaN.
template <auto M>
double member_to_real(const typename member_of<decltype(M)>::owner& r) {
    using V = typename member_of<decltype(M)>::value;
    if constexpr (is_real_like<V>) {
        return static_cast<double>(r.*M);
    } else {
        const auto& o = r.*M;
        return o ? static_cast<double>(*o) : std::numeric_limits<double>::quiet_NaN();
    }
}
template <auto M>
constexpr double (*real_reader())(const typename member_of<decltype(M)>::owner&) {
    using V = typename member_of<decltype(M)>::value;
    using O = typename optional_value<V>::type;
    if constexpr (is_real_like<V>) {
        return &member_to_real<M>;
    } else if constexpr (!std::is_void_v<O>) {
        if constexpr (is_real_like<O>) return &member_to_real<M>;
    }
    return nullptr;
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

// The field of a data member under a key: its reader, its stub type and its float64 reader.
template <auto M>
constexpr Field<typename detail::member_of<decltype(M)>::owner> field(const char* key) {
    using V = typename detail::member_of<decltype(M)>::value;
    return {key, &detail::member_to_py<M>, &Annotation<V>::result, detail::real_reader<M>()};
}

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
    [[nodiscard]] constexpr const Field<T>& field(std::size_t i) const { return fields_[i]; }

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
// QUELM_FIELD(Greeks, delta) is field<&Greeks::delta>("delta").
#define QUELM_FIELD(T, m) ::quelm::py::field<&T::m>(#m)

// record<Greeks>({{"delta", member<&Greeks::delta>}, ...}): the field count is deduced.
template <class T, std::size_t N>
constexpr Record<T, N> record(const Field<T> (&fields)[N]) {
    return Record<T, N>(fields);
}

// A result type's record and the name its dict type has in the stubs, declared once with
// QUELM_RECORD(T, kTable, "Name") in namespace quelm::py; the stubs list every such record.
template <class T>
struct RecordOf;

template <class T>
concept HasRecord = requires {
    RecordOf<T>::table;
    RecordOf<T>::name;
};

template <HasRecord T>
struct Annotation<T> {
    static const char* result() { return RecordOf<T>::name; }
};

// A record as the stubs see it: its name and (key, type) pairs in order.
struct RecordInfo {
    const char* name;
    std::vector<std::pair<const char*, const char* (*)()>> keys;
};

template <HasRecord T>
RecordInfo record_info() {
    const auto& table = RecordOf<T>::table;
    RecordInfo info{RecordOf<T>::name, {}};
    for (std::size_t i = 0; i < table.size(); ++i) info.keys.emplace_back(table.field(i).name, table.field(i).annotation);
    return info;
}

// Every declared record, in declaration order within each file.
std::vector<RecordInfo (*)()>& declared_records();

struct RecordRegistered {
    explicit RecordRegistered(RecordInfo (*info)()) { declared_records().push_back(info); }
};

#define QUELM_RECORD(T, TABLE, NAME)                                                     \
    template <>                                                                          \
    struct RecordOf<T> {                                                                 \
        static constexpr const auto& table = TABLE;                                      \
        static constexpr const char* name = NAME;                                        \
    };                                                                                   \
    static const ::quelm::py::RecordRegistered QUELM_CONCAT(record_at_, __LINE__)(&::quelm::py::record_info<T>)

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

// Declaring a callable once: a table of its parameters (names, defaults as the
// text signature shows them) beside the typed C++ function that implements it.
// The frame derives the arity, the keyword names, the defaults and the docstring's
// signature line from the table, and checks at compile time that the table and the
// function agree in length and that every default reads as its parameter's type.
#pragma once

#include "frame/annotations.hpp"
#include "frame/args.hpp"

#include <array>
#include <initializer_list>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>

namespace quelm::py {

// The largest number of parameters a callable may declare.
inline constexpr std::size_t kMaxParams = 20;

// One parameter. A default is written as the text signature shows it ("0.0",
// "\"european\"", "None"); a default shown as "..." carries its value separately. The
// entry "*" is not a parameter: those after it are keyword-only, as in a def statement.
struct Param {
    const char* name = nullptr;
    const char* shown = nullptr;  // nullptr: required
    const char* value = nullptr;  // the value text when `shown` hides it

    constexpr Param() = default;
    constexpr Param(const char* n) : name(n) {}  // implicit: a bare name is a required parameter
    constexpr Param(const char* n, const char* s) : name(n), shown(s) {}
    constexpr Param(const char* n, const char* s, const char* v) : name(n), shown(s), value(v) {}

    [[nodiscard]] constexpr bool required() const { return shown == nullptr; }
    [[nodiscard]] constexpr std::string_view value_text() const { return value != nullptr ? value : shown; }
};

// A declaration's table of parameters, as a value that can be named: declarations that
// share parameters write them once, and what reads a declaration's operands by position (a
// block of its array form) finds each by name, so an index cannot drift from the table.
class ParamList {
public:
    constexpr ParamList() = default;
    constexpr ParamList(std::initializer_list<Param> params) {
        for (const Param& p : params) push(p);
    }

    // This table followed by `more`: a shared head, then a declaration's own parameters.
    [[nodiscard]] constexpr ParamList operator+(const ParamList& more) const {
        ParamList all = *this;
        for (const Param& p : more) all.push(p);
        return all;
    }

    [[nodiscard]] constexpr const Param* begin() const { return entries_.data(); }
    [[nodiscard]] constexpr const Param* end() const { return entries_.data() + n_; }
    [[nodiscard]] constexpr std::size_t size() const { return n_; }  // with the "*" marker

    // The parameters, and so a typed declaration's operands ("*" is neither).
    [[nodiscard]] consteval std::size_t n_operands() const {
        std::size_t k = 0;
        for (const Param& p : *this) k += marker(p) ? 0 : 1;
        return k;
    }
    // The operand index of the parameter called `name`. Called where a constant is
    // needed, a name the table lacks does not compile.
    [[nodiscard]] consteval std::size_t operand(std::string_view name) const {
        std::size_t k = 0;
        for (const Param& p : *this) {
            if (marker(p)) continue;
            if (std::string_view(p.name) == name) return k;
            ++k;
        }
        throw "no parameter of that name in the declaration";
    }

private:
    static constexpr bool marker(const Param& p) { return std::string_view(p.name) == "*"; }
    constexpr void push(const Param& p) {
        if (n_ == entries_.size()) throw "too many parameters for the call frame";
        entries_[n_++] = p;
    }

    std::array<Param, kMaxParams + 1> entries_{};  // room for the "*" marker
    std::size_t n_ = 0;
};

// A default read at compile time; the member used is the one of the parameter's type.
struct Default {
    double real = 0.0;
    std::uint64_t count = 0;
    std::string_view text;
    bool none = false;
};

// The core value held by an instance of a quelm class (see classes.hpp).
void* instance_value(PyObject* self);

struct FunctionDef;
struct OptionInfo;
namespace vec {
struct ElementForm;
}
using Invoke = PyObject* (*)(const FunctionDef& def, PyObject* self, PyObject* const* slots);
using Text = const char* (*)();

// How a call runs with respect to the interpreter lock (a computation that polls for Ctrl-C
// always releases it).
enum class Lock : unsigned char {
    Keep,     // a microsecond of work or less: releasing would cost more than it frees
    Release,  // always released
    BySize,   // released when its series hold kReleaseFrom values or more
};

// Everything the frame knows of one callable; built at compile time by function(), method()
// or typed() (declare.hpp), then refined by the builders below.
struct FunctionDef {
    const char* name = nullptr;
    std::array<Param, kMaxParams> params{};
    std::array<Default, kMaxParams> defaults{};
    std::size_t n_params = 0;
    std::size_t n_positional = 0;  // the first n_positional may be given by position
    std::size_t n_required = 0;    // required positional parameters (a prefix)
    bool has_self = false;  // an instance method ("$self" in the text signature)
    const char* description = nullptr;
    Invoke invoke = nullptr;
    // For the stubs: each parameter's type and the result's type.
    std::array<Text, kMaxParams> annotations{};
    std::array<const OptionInfo* (*)(), kMaxParams> options{};  // a string option's spellings
    Text returns = nullptr;
    const char* returns_text = nullptr;  // written out where the result type is not derived
    // The order in which string options are read (parameter indices), when not their own.
    std::array<unsigned char, kMaxParams> option_order{};
    std::size_t n_option_order = 0;
    Lock lock = Lock::Keep;
    // The form over arrays in quelm.vec, its name there, and the instance it works on.
    const vec::ElementForm* element = nullptr;
    const char* vec_name = nullptr;
    const char* context_name = nullptr;
    PyTypeObject* (*context_type)() = nullptr;

    // The stub's result type, written out (for a function that builds its own result).
    [[nodiscard]] constexpr FunctionDef returning(const char* annotation) const {
        FunctionDef d = *this;
        d.returns_text = annotation;
        return d;
    }
    [[nodiscard]] constexpr FunctionDef locking(Lock policy) const {
        FunctionDef d = *this;
        d.lock = policy;
        return d;
    }
    // String options read in this order of parameter names (the scalar call's error order).
    [[nodiscard]] constexpr FunctionDef reading_options(std::initializer_list<std::string_view> names) const {
        FunctionDef d = *this;
        d.n_option_order = 0;
        for (std::string_view n : names) {
            std::size_t i = 0;
            while (i < d.n_params && std::string_view(d.params[i].name) != n) ++i;
            if (i == d.n_params) throw "reading_options names an unknown parameter";
            d.option_order[d.n_option_order++] = static_cast<unsigned char>(i);
        }
        return d;
    }
};

namespace detail {

// Compile-time readers of default texts. A malformed text is a compile error (the
// throw cannot be evaluated in a constant expression).
constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }

constexpr std::uint64_t read_count(std::string_view s) {
    if (s.empty()) throw "empty count default";
    std::uint64_t v = 0;
    for (char c : s) {
        if (!is_digit(c) || v > (UINT64_MAX - 9) / 10) throw "count default is not a small decimal integer";
        v = v * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return v;
}

// A decimal such as "-0.1", "252.0" or "0.20": the digits as an integer divided by a
// power of ten, both exact, so the quotient is the correctly rounded double the
// interpreter reads from the same text.
constexpr double read_real(std::string_view s) {
    const bool negative = !s.empty() && s.front() == '-';
    if (negative) s.remove_prefix(1);
    std::uint64_t digits = 0;
    int decimals = 0, count = 0;
    bool point = false;
    for (char c : s) {
        if (c == '.' && !point) {
            point = true;
            continue;
        }
        if (!is_digit(c)) throw "float default is not a plain decimal";
        digits = digits * 10 + static_cast<std::uint64_t>(c - '0');
        decimals += point ? 1 : 0;
        if (++count > 15) throw "float default has too many digits to read exactly";
    }
    if (count == 0) throw "empty float default";
    double scale = 1.0;
    for (int i = 0; i < decimals; ++i) scale *= 10.0;
    const double v = static_cast<double>(digits) / scale;
    return negative ? -v : v;
}

constexpr std::string_view read_text(std::string_view s) {
    if (s.size() < 2 || s.front() != '"' || s.back() != '"') throw "str default must be a double-quoted literal";
    s = s.substr(1, s.size() - 2);
    for (char c : s)
        if (c == '"' || c == '\\') throw "str default must not need escapes";
    return s;
}

template <class T>
struct is_optional : std::false_type {};
template <class T>
struct is_optional<std::optional<T>> : std::true_type {
    using value_type = T;
};

// A parameter type read from a str default ("\"weekends\"") by its own static
// from_default_text(std::string_view), called when the argument is absent.
template <class T>
concept TextDefault = requires(std::string_view s) {
    { T::from_default_text(s) } -> std::same_as<T>;
};

// A parameter type that also takes a float default ("0.0"), read by its own static
// from_default_real(double) (a rate that may be a number or a curve).
template <class T>
concept RealDefault = requires(double x) {
    { T::from_default_real(x) } -> std::same_as<T>;
};

}  // namespace detail

// A parameter type read from a str default by TextDefaultReader<T>::read(text) (string
// options are: see options.hpp).
template <class T>
struct TextDefaultReader;

namespace detail {

template <class T>
concept ReadsTextDefault = requires(std::string_view s) {
    { TextDefaultReader<T>::read(s) } -> std::same_as<T>;
};

// Parameter types that may carry a default.
template <class T>
constexpr bool has_default() {
    if constexpr (is_optional<T>::value) return true;  // at least None
    return std::is_same_v<T, double> || std::is_same_v<T, std::uint64_t> || std::is_same_v<T, std::string_view> ||
           std::is_same_v<T, bool> || TextDefault<T> || ReadsTextDefault<T> || RealDefault<T>;
}

template <class T>
constexpr Default read_default(std::string_view text) {
    Default d;
    if constexpr (is_optional<T>::value) {
        if (text == "None") {
            d.none = true;
            return d;
        }
        if constexpr (has_default<typename is_optional<T>::value_type>()) {
            return read_default<typename is_optional<T>::value_type>(text);
        }
        throw "this optional parameter can only default to None";
    } else if constexpr (std::is_same_v<T, double> || RealDefault<T>) {
        d.real = read_real(text);
    } else if constexpr (std::is_same_v<T, std::uint64_t>) {
        d.count = read_count(text);
    } else if constexpr (std::is_same_v<T, std::string_view> || TextDefault<T> || ReadsTextDefault<T>) {
        d.text = read_text(text);
    } else if constexpr (std::is_same_v<T, bool>) {
        if (text != "False" && text != "True") throw "bool default must be False or True";
        d.count = text == "True" ? 1 : 0;
    } else {
        throw "this parameter type takes no default";
    }
    return d;
}

template <class T>
T default_value(const Default& d) {
    if constexpr (is_optional<T>::value) {
        if constexpr (has_default<typename is_optional<T>::value_type>()) {
            if (!d.none) return T(default_value<typename is_optional<T>::value_type>(d));
        }
        return std::nullopt;
    } else if constexpr (std::is_same_v<T, double>) {
        return d.real;
    } else if constexpr (std::is_same_v<T, std::uint64_t>) {
        return d.count;
    } else if constexpr (std::is_same_v<T, bool>) {
        return d.count != 0;
    } else if constexpr (RealDefault<T>) {
        return T::from_default_real(d.real);
    } else if constexpr (TextDefault<T>) {
        return T::from_default_text(d.text);
    } else if constexpr (ReadsTextDefault<T>) {
        return TextDefaultReader<T>::read(d.text);
    } else {
        return d.text;
    }
}

}  // namespace detail

// How an argument becomes a T: from_py, found where T is declared; a type whose conversion
// lives elsewhere (a string option's enum, options.hpp) specialises this.
template <class T>
struct Converter {
    static bool convert(PyObject* o, T& out) { return from_py(o, out); }
};
template <class T>
struct Converter<std::optional<T>> {
    static bool convert(PyObject* o, std::optional<T>& out) {
        if (o == Py_None) {
            out.reset();
            return true;
        }
        T value{};
        if (!Converter<T>::convert(o, value)) return false;
        out = std::move(value);
        return true;
    }
};

namespace detail {

// Argument i into out: the given object, or the declared default when absent (the
// dispatcher has already rejected a missing required argument).
template <class T>
bool convert(const FunctionDef& def, std::size_t i, PyObject* o, T& out) {
    if (o == nullptr) {
        if constexpr (has_default<T>()) out = default_value<T>(def.defaults[i]);
        return true;
    }
    if (Converter<T>::convert(o, out)) return true;
    wrap_type_error(def.params[i].name);
    return false;
}

template <class... A, std::size_t... I>
bool convert_all(const FunctionDef& def, PyObject* const* slots, std::tuple<A...>& values,
                 std::index_sequence<I...>) {
    return (convert(def, I, slots[I], std::get<I>(values)) && ...);
}

// The table part of a FunctionDef: names, keyword-only marker, required prefix. The
// defaults stay text until read as the parameters' types (read_defaults).
consteval FunctionDef describe_table(const char* name, const ParamList& params,
                                     const char* description) {
    std::size_t stars = 0;
    for (const Param& p : params) stars += std::string_view(p.name) == "*" ? 1 : 0;
    if (stars > 1) throw "more than one keyword-only marker";
    if (params.size() - stars > kMaxParams) throw "too many parameters for the call frame";
    FunctionDef def;
    def.name = name;
    def.description = description;
    def.n_params = params.size() - stars;
    def.n_positional = def.n_params;
    std::size_t i = 0;
    bool seen_default = false, keyword_only = false;
    for (const Param& p : params) {
        if (std::string_view(p.name) == "*") {
            if (!p.required()) throw "the keyword-only marker takes no default";
            keyword_only = true;
            def.n_positional = i;
            continue;
        }
        if (!keyword_only) {
            if (p.required() && seen_default) throw "a required parameter follows one with a default";
            seen_default = !p.required();
            def.n_required += p.required() ? 1 : 0;
        }
        def.params[i++] = p;
    }
    return def;
}

// The table's defaults read as the parameter types, checking that the table and the
// function agree in length.
template <class... A>
consteval FunctionDef read_defaults(FunctionDef def) {
    if (def.n_params != sizeof...(A)) throw "the parameter table and the function differ in length";
    std::size_t k = 0;
    ((def.defaults[k] = def.params[k].required() ? Default{} : read_default<A>(def.params[k].value_text()), ++k),
     ...);
    return def;
}

// Fill the table part of a FunctionDef and check it against the parameter types.
template <class... A>
consteval FunctionDef describe(const char* name, const ParamList& params, const char* description) {
    return read_defaults<A...>(describe_table(name, params, description));
}

// The same over the table of another declaration (its names, defaults and keyword-only
// marker), read as these parameter types.
template <class... A>
consteval FunctionDef describe_like(const char* name, const FunctionDef& table, const char* description) {
    FunctionDef def;
    def.name = name;
    def.description = description;
    def.params = table.params;
    def.n_params = table.n_params;
    def.n_positional = table.n_positional;
    def.n_required = table.n_required;
    return read_defaults<A...>(def);
}

// Each parameter's stub type, where its C++ type has one.
template <class T>
constexpr Text param_annotation_of() {
    if constexpr (requires { Annotation<T>::param(); }) {
        return &Annotation<T>::param;
    } else {
        return nullptr;
    }
}

}  // namespace detail

// The spellings of a string option parameter, for the stubs (specialised in options.hpp).
template <class T>
struct OptionOf {
    static constexpr const OptionInfo* (*info)() = nullptr;
};

namespace detail {

template <class... A>
constexpr void annotate(FunctionDef& def) {
    std::size_t i = 0;
    ((def.annotations[i] = param_annotation_of<A>(), def.options[i] = OptionOf<A>::info, ++i), ...);
}

template <auto F>
struct FunctionBinding;

template <class... A, PyObject* (*F)(A...)>
struct FunctionBinding<F> {
    using Values = std::tuple<std::remove_cvref_t<A>...>;

    static PyObject* invoke(const FunctionDef& def, PyObject*, PyObject* const* slots) {
        Values values;
        if (!convert_all(def, slots, values, std::index_sequence_for<A...>{})) return nullptr;
        return std::apply(F, values);
    }
    static consteval FunctionDef define(const char* name, const ParamList& params, const char* doc) {
        return bound(describe<std::remove_cvref_t<A>...>(name, params, doc));
    }
    static consteval FunctionDef define(const char* name, const FunctionDef& table, const char* doc) {
        return bound(describe_like<std::remove_cvref_t<A>...>(name, table, doc));
    }
    static consteval FunctionDef bound(FunctionDef def) {
        def.invoke = &invoke;
        annotate<std::remove_cvref_t<A>...>(def);
        return def;
    }
};

template <auto F>
struct MethodBinding;

// A method: the first parameter is the instance's core value.
template <class Self, class... A, PyObject* (*F)(const Self&, A...)>
struct MethodBinding<F> {
    using Values = std::tuple<std::remove_cvref_t<A>...>;

    static PyObject* invoke(const FunctionDef& def, PyObject* self, PyObject* const* slots) {
        Values values;
        if (!convert_all(def, slots, values, std::index_sequence_for<A...>{})) return nullptr;
        const Self& value = *static_cast<const Self*>(instance_value(self));
        return std::apply([&value](auto&... v) { return F(value, v...); }, values);
    }
    static consteval FunctionDef define(const char* name, const ParamList& params, const char* doc) {
        FunctionDef def = describe<std::remove_cvref_t<A>...>(name, params, doc);
        def.has_self = true;
        def.invoke = &invoke;
        annotate<std::remove_cvref_t<A>...>(def);
        return def;
    }
};

}  // namespace detail

// A module function or a static method: F takes one C++ value per parameter, in order.
template <auto F>
consteval FunctionDef function(const char* name, const ParamList& params, const char* description) {
    return detail::FunctionBinding<F>::define(name, params, description);
}

// The same over the parameter table of another declaration: the compiled call a function
// written in Python makes takes the parameters that function declares (vec_python.hpp).
template <auto F>
consteval FunctionDef function_like(const char* name, const FunctionDef& table, const char* description) {
    return detail::FunctionBinding<F>::define(name, table, description);
}

// An instance method: F takes the instance's core value (const T&), then one value per parameter.
template <auto F>
consteval FunctionDef method(const char* name, const ParamList& params, const char* description) {
    return detail::MethodBinding<F>::define(name, params, description);
}

}  // namespace quelm::py

// Typed declarations: a public function written once over plain values (doubles, counts,
// string options as their enums, series as spans, optionally the instance it belongs to
// first and a Cancel& last) returning Result<R>. From that one function the frame makes the
// scalar binding (conversion, string options, the lock, the result) and, when declared with
// in_vec(), its form over arrays in quelm.vec: the same function once per element (or once
// per series of a panel), so element i has the scalar call's bits by construction.
//
//   Result<double> black_scholes_of(double spot, ..., OptionType type, double q);
//   constexpr FunctionDef def_black_scholes =
//       typed<&black_scholes_of>("black_scholes", {"spot", ..., {"dividend_yield", "0.0"}}, "...")
//           .in_vec();
#pragma once

#include "frame/classes.hpp"
#include "frame/dates.hpp"
#include "frame/grid.hpp"
#include "frame/options.hpp"
#include "frame/result.hpp"
#include "frame/signature.hpp"

#include <optional>
#include <span>
#include <tuple>
#include <type_traits>
#include <utility>

namespace quelm::py {

// A class whose instances hold a core value of type T: results of type T are wrapped in it.
// Declared once per class with QUELM_CLASS_OF(T, factory) in namespace quelm::py.
template <class T>
struct ClassOf;

template <class T>
concept HasClass = requires { ClassOf<T>::type; };

#define QUELM_CLASS_OF(T, FACTORY, NAME)                               \
    template <>                                                        \
    struct ClassOf<T> {                                                \
        static PyTypeObject* type() { return FACTORY(); }              \
        static constexpr const char* name = NAME;                      \
    }

// A parameter that takes an instance of the class holding a C (and nothing else).
template <class C>
struct InstanceOf {
    const C* value = nullptr;
};
template <HasClass C>
bool from_py(PyObject* o, InstanceOf<C>& out) {
    PyTypeObject* type = ClassOf<C>::type();
    if (type == nullptr) return false;
    if (Py_TYPE(o) != type) {
        PyErr_Format(PyExc_TypeError, "expected %s, got %s", type->tp_name, Py_TYPE(o)->tp_name);
        return false;
    }
    out.value = static_cast<const C*>(instance_value(o));
    return true;
}

// A result that is neither a number, a record nor a class instance: ToPy<T>::convert makes it.
template <class T>
struct ToPy;

template <HasClass T>
struct Annotation<T> {
    static const char* param() { return ClassOf<T>::name; }
    static const char* result() { return ClassOf<T>::name; }
};

namespace vec {

// What quelm.vec needs of a typed function: its operands (one per parameter), its outputs,
// and the chunk runner that calls it.
struct ElementForm {
    std::size_t n_operands = 0;
    std::array<OperandKind, kMaxOperands> kinds{};
    std::array<bool, kMaxOperands> optional{};
    std::array<std::size_t, kMaxOperands> code_counts{};
    std::array<bool (*)(std::string_view, unsigned char&, std::string&), kMaxOperands> code{};  // text -> code
    std::size_t n_out = 1;
    std::array<const char*, kMaxOutputs> keys{};  // the outputs' names when a record, else none
    bool keyed = false;
    Chunk chunk = nullptr;
    bool blocks = false;  // the chunk runs blocks: a string column may be coded as it runs
    const char* (*record)() = nullptr;  // the record's stub name, when the result is one
};

}  // namespace vec

namespace detail {

template <class T>
constexpr bool is_cancel = std::is_same_v<T, Cancel&>;

// How a typed parameter travels: the value the argument is converted into (Held), the typed
// value read from it, and the operand it is in an array call (absent: no array form).
template <class P>
struct Typed {
    using Held = P;
    static const P& get(const Held& h) { return h; }
};
template <HasClass C>
struct Typed<C> {
    using Held = InstanceOf<C>;
    static const C& get(const Held& h) { return *h.value; }
};
template <>
struct Typed<double> {
    using Held = double;
    static double get(double h) { return h; }
    static constexpr vec::OperandKind kind = vec::OperandKind::Real;
    static double read(const vec::Operands& in, std::size_t k) { return in.real(k); }
};
template <>
struct Typed<std::uint64_t> {
    using Held = std::uint64_t;
    static std::uint64_t get(std::uint64_t h) { return h; }
    static constexpr vec::OperandKind kind = vec::OperandKind::Count;
    static std::uint64_t read(const vec::Operands& in, std::size_t k) { return in.count(k); }
};
template <IsStringOption E>
struct Typed<E> {
    using Held = std::string_view;  // read from its table once every argument is converted
    static constexpr vec::OperandKind kind = vec::OperandKind::Code;
    static E read(const vec::Operands& in, std::size_t k) { return in.code<E>(k); }
};
// A string option parsed by its own hook (see ParsedOption): a code per element, its value
// read back from the code.
template <IsParsedOption T>
struct Typed<T> {
    using Held = std::string_view;  // parsed once every argument is converted
    static constexpr vec::OperandKind kind = vec::OperandKind::Code;
    static const T& read(const vec::Operands& in, std::size_t k) {
        return ParsedOption<T>::of_code(in.code<unsigned char>(k));
    }
};
// A date: its serial. In an array call the grid fails an element whose day count is not a
// date (NaT, rejected text, beyond the years 1..9999) before the function runs.
template <>
struct Typed<Date> {
    using Held = Date;
    static Date get(Date h) { return h; }
    static constexpr vec::OperandKind kind = vec::OperandKind::Date;
    static Date read(const vec::Operands& in, std::size_t k) { return {static_cast<std::int32_t>(in.days(k))}; }
};
template <>
struct Typed<std::span<const double>> {
    using Held = FloatSeq;
    static std::span<const double> get(const FloatSeq& h) { return h.view(); }
    static constexpr vec::OperandKind kind = vec::OperandKind::Series;
    static std::span<const double> read(const vec::Operands& in, std::size_t k) { return in.series(k); }
};
template <class T>
    requires requires { Typed<T>::kind; }
struct Typed<std::optional<T>> {
    using Held = std::optional<typename Typed<T>::Held>;
    static constexpr vec::OperandKind kind = Typed<T>::kind;
    static std::optional<T> get(const Held& h)
        requires(!IsStringOption<T> && !IsParsedOption<T>)
    {
        if (!h) return std::nullopt;
        return Typed<T>::get(*h);
    }
    static std::optional<T> read(const vec::Operands& in, std::size_t k) {
        if (!in.present(k)) return std::nullopt;
        return Typed<T>::read(in, k);
    }
};

template <class P>
constexpr bool is_option = IsStringOption<P> || IsParsedOption<P>;
template <class P>
constexpr bool is_option<std::optional<P>> = IsStringOption<P>;

template <class P>
constexpr bool is_std_optional = false;
template <class P>
constexpr bool is_std_optional<std::optional<P>> = true;

// A parameter of the plain kinds an array form can carry; others (a matrix, a record of
// holdings) are passed to F as converted.
template <class P>
constexpr bool is_plain = requires { Typed<P>::kind; };

template <class P>
using ValueOf = std::conditional_t<is_plain<P>, P, char>;

template <class F>
struct Typing;
template <class R, class... P>
struct Typing<Result<R> (*)(P...)> {
    using result = R;
    using params = std::tuple<P...>;
};

// A result as a Python object: a number, a record's dict, an instance of the class that
// holds it, or what to_py makes of it.
template <class R>
PyObject* result_to_py(const R& r) {
    if constexpr (HasRecord<R>) {
        return RecordOf<R>::table(r);
    } else if constexpr (requires { ToPy<R>::convert(r); }) {
        return ToPy<R>::convert(r);
    } else if constexpr (HasClass<R>) {
        return wrap(ClassOf<R>::type(), r);
    } else {
        return to_py(r);
    }
}

template <class R>
constexpr Text result_annotation() {
    if constexpr (requires { Annotation<R>::result(); }) {
        return &Annotation<R>::result;
    } else {
        return nullptr;
    }
}

template <auto F, bool Method, auto Block>
struct TypedBinding {
    using Sig = Typing<decltype(F)>;
    using R = typename Sig::result;
    using All = typename Sig::params;
    static constexpr std::size_t n_all = std::tuple_size_v<All>;
    static constexpr bool has_cancel = n_all > 0 && is_cancel<std::tuple_element_t<n_all - 1, All>>;
    static constexpr std::size_t first = Method ? 1 : 0;
    static constexpr std::size_t n = n_all - first - (has_cancel ? 1 : 0);
    template <std::size_t I>
    using P = std::remove_cvref_t<std::tuple_element_t<first + I, All>>;
    using Self = std::remove_cvref_t<std::tuple_element_t<0, std::conditional_t<Method, All, std::tuple<int>>>>;

    template <std::size_t... I>
    static auto held_of(std::index_sequence<I...>) -> std::tuple<typename Typed<P<I>>::Held...>;
    template <std::size_t... I>
    static auto values_of(std::index_sequence<I...>) -> std::tuple<ValueOf<P<I>>...>;
    using Seq = std::make_index_sequence<n>;
    using Held = decltype(held_of(Seq{}));
    using Values = decltype(values_of(Seq{}));

    // The typed value of parameter I from its converted argument (a string option is read
    // later, in read_option).
    template <std::size_t I>
    static void take(const Held& held, Values& values) {
        if constexpr (is_plain<P<I>> && !is_option<P<I>>) std::get<I>(values) = Typed<P<I>>::get(std::get<I>(held));
    }

    // Argument I of F.
    template <std::size_t I>
    static decltype(auto) arg(const Held& held, const Values& values) {
        if constexpr (is_plain<P<I>>) {
            return (std::get<I>(values));
        } else {
            return Typed<P<I>>::get(std::get<I>(held));
        }
    }

    template <std::size_t I>
    static bool read_option(const Held& held, Values& values) {
        if constexpr (is_option<P<I>>) {
            if constexpr (IsStringOption<P<I>>) {
                return choose(StringOption<P<I>>::table, std::get<I>(held), std::get<I>(values));
            } else if constexpr (IsParsedOption<P<I>>) {
                auto parsed = ParsedOption<P<I>>::parse(std::get<I>(held));
                if (!parsed) {
                    raise(parsed.error());
                    return false;
                }
                std::get<I>(values) = std::move(*parsed);
                return true;
            } else {
                const auto& text = std::get<I>(held);
                if (!text) return true;
                typename P<I>::value_type v{};
                if (!choose(StringOption<typename P<I>::value_type>::table, *text, v)) return false;
                std::get<I>(values) = v;
                return true;
            }
        } else {
            return true;
        }
    }

    template <std::size_t... I>
    static bool read_options(const FunctionDef& def, const Held& held, Values& values, std::index_sequence<I...>) {
        if (def.n_option_order == 0) return (read_option<I>(held, values) && ...);
        for (std::size_t k = 0; k < def.n_option_order; ++k) {
            const std::size_t at = def.option_order[k];
            if (!((at == I ? read_option<I>(held, values) : true) && ...)) return false;
        }
        return true;
    }

    template <std::size_t I>
    static std::size_t series_size(const Held& held) {
        if constexpr (std::is_same_v<typename Typed<P<I>>::Held, FloatSeq>) {
            return std::get<I>(held).size();
        } else if constexpr (std::is_same_v<typename Typed<P<I>>::Held, std::optional<FloatSeq>>) {
            return std::get<I>(held) ? std::get<I>(held)->size() : 0;
        } else if constexpr (!is_option<P<I>> && requires { std::get<I>(held).size(); }) {
            return std::get<I>(held).size();
        } else {
            return 0;
        }
    }

    template <std::size_t... I>
    static PyObject* invoke_seq(const FunctionDef& def, PyObject* self, PyObject* const* slots,
                                std::index_sequence<I...> seq) {
        Held held;
        if (!(convert(def, I, slots[I], std::get<I>(held)) && ...)) return nullptr;
        Values values;
        (take<I>(held, values), ...);
        if (!read_options(def, held, values, seq)) return nullptr;
        const auto call = [&](auto&&... extra) {
            if constexpr (Method) {
                const Self& value = *static_cast<const Self*>(instance_value(self));
                return F(value, arg<I>(held, values)..., extra...);
            } else {
                return F(arg<I>(held, values)..., extra...);
            }
        };
        const auto done = [](const Result<R>& r) { return finish(r, [](const R& v) { return result_to_py(v); }); };
        if constexpr (has_cancel) {
            return done(compute([&](Cancel& c) { return call(c); }));
        } else {
            switch (def.lock) {
                case Lock::Keep: return done(call());
                case Lock::Release: return done(compute([&] { return call(); }));
                case Lock::BySize: return done(compute((series_size<I>(held) + ... + 0), [&] { return call(); }));
            }
            return done(call());
        }
    }

    static PyObject* invoke(const FunctionDef& def, PyObject* self, PyObject* const* slots) {
        return invoke_seq(def, self, slots, Seq{});
    }

    // --- the element form ---

    template <std::size_t... I>
    static Status element_seq(const void* context, const vec::Operands& in, double* out, Cancel& cancel,
                              std::index_sequence<I...>) {
        const auto call = [&](auto&&... extra) {
            if constexpr (Method) {
                return F(*static_cast<const Self*>(context), Typed<P<I>>::read(in, I)..., extra...);
            } else {
                return F(Typed<P<I>>::read(in, I)..., extra...);
            }
        };
        Result<R> r = [&] {
            if constexpr (has_cancel) {
                return call(cancel);
            } else {
                return call();
            }
        }();
        if (!r) return std::unexpected(r.error());
        if constexpr (HasRecord<R>) {
            const auto& table = RecordOf<R>::table;
            std::size_t j = 0;
            for (std::size_t f = 0; f < table.size(); ++f)
                if (table.field(f).real != nullptr) out[j++] = table.field(f).real(*r);
        } else if constexpr (std::is_integral_v<R>) {
            out[0] = static_cast<double>(*r);  // a count (days): exact up to 2^53
        } else {
            static_assert(std::is_same_v<R, double>, "an array form returns a number or a record of numbers");
            out[0] = *r;
        }
        return {};
    }

    static Status element(const void* context, const vec::Operands& in, double* out, Cancel& cancel) {
        return element_seq(context, in, out, cancel, Seq{});
    }

    template <std::size_t... I>
    static constexpr vec::ElementForm form_seq(std::index_sequence<I...>) {
        vec::ElementForm f;
        f.n_operands = n;
        static_assert(n <= vec::kMaxOperands, "too many operands for an array form");
        ((f.kinds[I] = Typed<P<I>>::kind), ...);
        ((f.optional[I] = is_std_optional<P<I>>), ...);
        const auto code_of = [](auto tag) {
            using Q = typename decltype(tag)::type;
            if constexpr (IsStringOption<Q>) {
                return std::pair{option_count<Q>(), &option_code<Q>};
            } else if constexpr (IsParsedOption<Q>) {
                return std::pair<std::size_t, bool (*)(std::string_view, unsigned char&, std::string&)>{
                    ParsedOption<Q>::count, &ParsedOption<Q>::code};
            } else {
                return std::pair<std::size_t, bool (*)(std::string_view, unsigned char&, std::string&)>{0, nullptr};
            }
        };
        ((f.code_counts[I] = code_of(std::type_identity<P<I>>{}).first), ...);
        ((f.code[I] = code_of(std::type_identity<P<I>>{}).second), ...);
        if constexpr (HasRecord<R>) {
            const auto& table = RecordOf<R>::table;
            f.n_out = 0;
            f.keyed = true;
            for (std::size_t k = 0; k < table.size(); ++k)
                if (table.field(k).real != nullptr) f.keys[f.n_out++] = table.field(k).name;
            f.record = &Annotation<R>::result;
        }
        if constexpr (std::is_same_v<decltype(Block), std::nullptr_t>) {
            f.chunk = &vec::run_chunk<&element>;
        } else {
            f.chunk = &vec::run_block_chunk<&element, Block>;
            f.blocks = true;
        }
        return f;
    }
    // Not constexpr: a record's table (its keys interned at run time) is constinit, not
    // constexpr, and only GCC reads such an object in a constant expression.
    static inline const vec::ElementForm form = form_seq(Seq{});

    template <std::size_t... I>
    static consteval FunctionDef define_seq(const char* name, const ParamList& params, const char* doc,
                                            std::index_sequence<I...>) {
        FunctionDef def = describe<typename Typed<P<I>>::Held...>(name, params, doc);
        def.invoke = &invoke;
        def.has_self = Method;
        ((def.annotations[I] = param_annotation_of<P<I>>()), ...);
        ((def.options[I] = OptionOf<P<I>>::info), ...);
        def.returns = result_annotation<R>();
        return def;
    }
    static consteval FunctionDef define(const char* name, const ParamList& params, const char* doc) {
        return define_seq(name, params, doc, Seq{});
    }
};

template <auto M>
struct MemberCall;
template <class C, class R, class... A, Result<R> (C::*M)(A...) const>
struct MemberCall<M> {
    static Result<R> call(const C& c, A... a) { return (c.*M)(a...); }
};

}  // namespace detail

// A function declared over plain values (see the top of this file). Block, when given, runs
// up to vec::kBlock elements of a row at once in the array form.
template <auto F, auto Block = nullptr>
consteval FunctionDef typed(const char* name, const ParamList& params, const char* description) {
    return detail::TypedBinding<F, false, Block>::define(name, params, description);
}

// An instance method declared the same way: F's first parameter is the instance's core value.
template <auto F, auto Block = nullptr>
consteval FunctionDef typed_method(const char* name, const ParamList& params, const char* description) {
    return detail::TypedBinding<F, true, Block>::define(name, params, description);
}

// A const member function of the core value returning Result<R>, as a typed method's F.
template <auto M>
inline constexpr auto member_function = &detail::MemberCall<M>::call;

namespace detail {
template <auto F, bool Method, auto Block>
constexpr FunctionDef with_form(FunctionDef d, const char* vec_name, const char* context_name,
                                PyTypeObject* (*context_type)()) {
    d.element = &TypedBinding<F, Method, Block>::form;
    d.vec_name = vec_name != nullptr ? vec_name : d.name;
    d.context_name = context_name;
    d.context_type = context_type;
    return d;
}
}  // namespace detail

// The declaration with its form over arrays, quelm.vec.<its name>.
template <auto F, auto Block = nullptr>
consteval FunctionDef typed_in_vec(const char* name, const ParamList& params, const char* description) {
    return detail::with_form<F, false, Block>(typed<F, Block>(name, params, description), nullptr, nullptr, nullptr);
}

// A method with its form over arrays, quelm.vec.<vec_name>, which takes the instance first
// as `context_name`.
template <auto F, auto Block = nullptr>
consteval FunctionDef typed_method_in_vec(const char* name, const ParamList& params,
                                          const char* description, const char* vec_name, const char* context_name,
                                          PyTypeObject* (*context_type)()) {
    return detail::with_form<F, true, Block>(typed_method<F, Block>(name, params, description), vec_name,
                                             context_name, context_type);
}

}  // namespace quelm::py

// Python classes AmericanOption and BarrierOption: trades of a Book on a market surface,
// priced by the finite-difference engine.
#include "bindings/book/fd_option_trades.hpp"

#include "bindings/book/market_args.hpp"
#include "bindings/book/trade_terms.hpp"
#include "bindings/string_options.hpp"
#include "frame/dates.hpp"
#include "frame/declare.hpp"
#include "frame/registry.hpp"
#include "frame/result.hpp"
#include "quelm/book/trade.hpp"
#include "quelm/dates/serial.hpp"

#include <optional>
#include <string>

namespace quelm::py {

constexpr Section kSection = Section::Books;
constexpr std::string_view kGuide = "books";

namespace {

using book::AmericanOption;
using book::BarrierOption;

template <class T>
Result<double> npv_of(const T& o, const book::Market& market) {
    QUELM_TRY(v, book::value_market_trade(book::Position{o}, market, false));
    return v.value;
}

PyObject* option_type_py(OptionType t) { return to_py(t); }
PyObject* barrier_type_py(pricing::BarrierType t) { return to_py(t); }

// --- AmericanOption ---

Result<AmericanOption> american_new(std::string_view underlying, double strike, Date expiry, OptionType option_type,
                                    double notional, const std::optional<std::string_view>& curve) {
    AmericanOption o;
    QUELM_TRY(c, curve_name(curve));
    o.underlying = std::string(underlying);
    o.strike = strike;
    o.expiry = expiry.serial;
    o.type = option_type;
    o.notional = notional;
    o.curve = std::move(c);
    QUELM_CHECK(book::check(o));
    return o;
}

Result<double> american_npv(const AmericanOption& o, const book::Market& market) { return npv_of(o, market); }
PyObject* american_repr(PyObject* self) { return to_py(book::describe(value_of<AmericanOption>(self))); }
bool american_equal(PyObject* a, PyObject* b) { return value_of<AmericanOption>(a) == value_of<AmericanOption>(b); }
PyObject* american_reduce(const AmericanOption& o) {
    Ref type(to_py(o.type));
    if (!type) return nullptr;
    return reduce_with(american_option_type(),
                       Py_BuildValue("(s#dNO)", o.underlying.data(), static_cast<Py_ssize_t>(o.underlying.size()),
                                     o.strike, to_py_date(o.expiry), type.get()),
                       {{"notional", to_py(o.notional)}, {"curve", text_py(o.curve)}});
}

constexpr FunctionDef def_american_new = typed<&american_new>(
    "AmericanOption",
    {"underlying", "strike", "expiry", "option_type", "*", {"notional", "1.0"}, {"curve", "None"}},
    "An American option on the market's volatility surface `underlying`: exercisable any day\n"
    "up to `expiry` for `notional` × max(S − strike, 0) (a call) or max(strike − S, 0) (a put).\n"
    "Priced by finite differences (`fd_price`'s engine at its default grid) under\n"
    "Black-Scholes with the surface's forward and implied volatility at the strike and the\n"
    "expiry's time on `curve`, the rate from `curve`'s discount factor (None: the market's\n"
    "only curve). In a `Book` its risk is to that curve's quotes, exactly through the\n"
    "discount factor at expiry (the forward held by the surface), and to the surface's slices\n"
    "(vega per volatility point), with the engine's delta, gamma and theta.");
constexpr FunctionDef def_american_npv = typed_method<&american_npv>(
    "npv", {"market"}, "Its value on `market`, as a `Book` values it.");
constexpr FunctionDef def_american_reduce =
    method<american_reduce>("__reduce__", {}, "Pickle support: rebuild through the constructor.")
        .returning("Tuple[Any, ...]");

constexpr Callable kAmericanNew = callable<def_american_new>;
constexpr Callable kAmericanMethods[] = {callable<def_american_npv>, callable<def_american_reduce>};

const GetterDef kAmericanGetters[] = {
    attribute<&AmericanOption::underlying, text_py>("underlying", "The market surface it is priced on.", "str"),
    attribute<&AmericanOption::strike>("strike", "The strike.", "float"),
    attribute<&AmericanOption::expiry, to_py_date>("expiry", "The last exercise date.", "datetime.date"),
    attribute<&AmericanOption::type, option_type_py>("option_type", "\"call\" or \"put\".", "str"),
    attribute<&AmericanOption::notional>("notional", "Units of the underlying (negative: sold).", "float"),
    attribute<&AmericanOption::curve, text_py>("curve", "The market curve it discounts on, or None.", "str | None"),
};

// --- BarrierOption ---

Result<BarrierOption> barrier_new(std::string_view underlying, double strike, Date expiry, OptionType option_type,
                                  double barrier, pricing::BarrierType barrier_type, double rebate, double notional,
                                  const std::optional<std::string_view>& curve) {
    BarrierOption o;
    QUELM_TRY(c, curve_name(curve));
    o.underlying = std::string(underlying);
    o.strike = strike;
    o.expiry = expiry.serial;
    o.type = option_type;
    o.barrier = barrier;
    o.barrier_type = barrier_type;
    o.rebate = rebate;
    o.notional = notional;
    o.curve = std::move(c);
    QUELM_CHECK(book::check(o));
    return o;
}

Result<double> barrier_npv(const BarrierOption& o, const book::Market& market) { return npv_of(o, market); }
PyObject* barrier_repr(PyObject* self) { return to_py(book::describe(value_of<BarrierOption>(self))); }
bool barrier_equal(PyObject* a, PyObject* b) { return value_of<BarrierOption>(a) == value_of<BarrierOption>(b); }
PyObject* barrier_reduce(const BarrierOption& o) {
    Ref type(to_py(o.type));
    Ref kind(to_py(o.barrier_type));
    if (!type || !kind) return nullptr;
    return reduce_with(barrier_option_type(),
                       Py_BuildValue("(s#dNOdO)", o.underlying.data(), static_cast<Py_ssize_t>(o.underlying.size()),
                                     o.strike, to_py_date(o.expiry), type.get(), o.barrier, kind.get()),
                       {{"rebate", to_py(o.rebate)}, {"notional", to_py(o.notional)}, {"curve", text_py(o.curve)}});
}

constexpr FunctionDef def_barrier_new = typed<&barrier_new>(
    "BarrierOption",
    {"underlying", "strike", "expiry", "option_type", "barrier", "barrier_type", "*", {"rebate", "0.0"},
     {"notional", "1.0"}, {"curve", "None"}},
    "A single barrier option on the market's volatility surface `underlying`: the European\n"
    "payoff at `expiry`, knocked out (\"down-out\", \"up-out\") or in (\"down-in\", \"up-in\")\n"
    "when the spot touches `barrier`, monitored continuously; `rebate` per unit of notional\n"
    "is paid at the touch by a knock-out, at expiry by a knock-in never knocked in. Priced by\n"
    "finite differences as `AmericanOption` is, at the surface's implied volatility at the\n"
    "strike and expiry. In a `Book` its risk is to `curve`'s quotes and the surface's slices,\n"
    "with the engine's Greeks.");
constexpr FunctionDef def_barrier_npv = typed_method<&barrier_npv>(
    "npv", {"market"}, "Its value on `market`, as a `Book` values it.");
constexpr FunctionDef def_barrier_reduce =
    method<barrier_reduce>("__reduce__", {}, "Pickle support: rebuild through the constructor.")
        .returning("Tuple[Any, ...]");

constexpr Callable kBarrierNew = callable<def_barrier_new>;
constexpr Callable kBarrierMethods[] = {callable<def_barrier_npv>, callable<def_barrier_reduce>};

const GetterDef kBarrierGetters[] = {
    attribute<&BarrierOption::underlying, text_py>("underlying", "The market surface it is priced on.", "str"),
    attribute<&BarrierOption::strike>("strike", "The strike.", "float"),
    attribute<&BarrierOption::expiry, to_py_date>("expiry", "The expiry date.", "datetime.date"),
    attribute<&BarrierOption::type, option_type_py>("option_type", "\"call\" or \"put\".", "str"),
    attribute<&BarrierOption::barrier>("barrier", "The barrier level.", "float"),
    attribute<&BarrierOption::barrier_type, barrier_type_py>(
        "barrier_type", "\"down-in\", \"down-out\", \"up-in\" or \"up-out\".", "str"),
    attribute<&BarrierOption::rebate>("rebate", "Paid per unit of notional (see the class).", "float"),
    attribute<&BarrierOption::notional>("notional", "Units of the underlying (negative: sold).", "float"),
    attribute<&BarrierOption::curve, text_py>("curve", "The market curve it discounts on, or None.", "str | None"),
};

}  // namespace

PyTypeObject* american_option_type() {
    static const ClassDef def{"AmericanOption",
                              "Immutable; compares equal to the same option on the same terms and pickles.\n\n"
                              "    >>> import quelm\n"
                              "    >>> quelm.AmericanOption(\"spx\", 5000.0, \"2027-03-19\", \"put\", notional=10.0)\n"
                              "    <AmericanOption put on spx 5000 expiring 2027-03-19>",
                              kAmericanMethods,
                              std::size(kAmericanMethods),
                              kAmericanGetters,
                              std::size(kAmericanGetters),
                              &american_repr,
                              &american_equal,
                              nullptr,
                              &kAmericanNew};
    static PyTypeObject* type = create_class(def);
    return type;
}
QUELM_PUBLIC_CLASS(american_option_type);

PyTypeObject* barrier_option_type() {
    static const ClassDef def{"BarrierOption",
                              "Immutable; compares equal to the same option on the same terms and pickles.\n\n"
                              "    >>> import quelm\n"
                              "    >>> quelm.BarrierOption(\"spx\", 5000.0, \"2027-03-19\", \"call\", 6000.0, \"up-out\")\n"
                              "    <BarrierOption up-out call on spx 5000 barrier 6000 expiring 2027-03-19>",
                              kBarrierMethods,
                              std::size(kBarrierMethods),
                              kBarrierGetters,
                              std::size(kBarrierGetters),
                              &barrier_repr,
                              &barrier_equal,
                              nullptr,
                              &kBarrierNew};
    static PyTypeObject* type = create_class(def);
    return type;
}
QUELM_PUBLIC_CLASS(barrier_option_type);

}  // namespace quelm::py

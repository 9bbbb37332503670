// Python classes FxForward and EuropeanOption: trades of a Book priced off the market's
// FX spots, curves and volatility surfaces.
#include "bindings/book/market_trades.hpp"

#include "bindings/book/market_args.hpp"
#include "bindings/book/trade_terms.hpp"
#include "bindings/string_options.hpp"
#include "frame/dates.hpp"
#include "frame/declare.hpp"
#include "frame/registry.hpp"
#include "frame/result.hpp"
#include "quelm/book/currency.hpp"
#include "quelm/book/fx.hpp"
#include "quelm/dates/serial.hpp"

#include <optional>
#include <string>

namespace quelm::py {

constexpr Section kSection = Section::Books;
constexpr std::string_view kGuide = "books";

namespace {

using book::EuropeanOption;
using book::FxForward;

// --- FxForward ---

Result<FxForward> fx_forward_new(std::string_view pair, Date maturity, double strike, double notional,
                                 const std::optional<std::string_view>& domestic_curve,
                                 const std::optional<std::string_view>& foreign_curve) {
    FxForward f;
    QUELM_TRY(p, book::parse_pair(pair));
    QUELM_TRY(d, curve_name(domestic_curve));
    QUELM_TRY(g, curve_name(foreign_curve));
    f.pair = std::move(p);
    f.maturity = maturity.serial;
    f.strike = strike;
    f.notional = notional;
    f.domestic_curve = std::move(d);
    f.foreign_curve = std::move(g);
    QUELM_CHECK(book::check(f));
    return f;
}

Result<double> fx_forward_npv(const FxForward& f, const book::Market& market) {
    QUELM_TRY(v, book::value_fx_forward(f, market, false));
    return v.value;
}

PyObject* fx_forward_repr(PyObject* self) { return to_py(book::describe(value_of<FxForward>(self))); }
bool fx_forward_equal(PyObject* a, PyObject* b) { return value_of<FxForward>(a) == value_of<FxForward>(b); }
PyObject* fx_forward_reduce(const FxForward& f) {
    return reduce_with(fx_forward_type(),
                       Py_BuildValue("(s#Nd)", f.pair.data(), static_cast<Py_ssize_t>(f.pair.size()),
                                     to_py_date(f.maturity), f.strike),
                       {{"notional", to_py(f.notional)},
                        {"domestic_curve", text_py(f.domestic_curve)},
                        {"foreign_curve", text_py(f.foreign_curve)}});
}

constexpr FunctionDef def_fx_forward_new = typed<&fx_forward_new>(
    "FxForward",
    {"pair", "maturity", "strike", "*", {"notional", "1.0"}, {"domestic_curve", "None"}, {"foreign_curve", "None"}},
    "An FX forward: buys `notional` units of the pair's base currency (\"EURUSD\": euros) for\n"
    "`strike` units of its quote currency (dollars) each, at `maturity`; a negative notional\n"
    "sells. Worth notional × (spot × P_base(maturity) − strike × P_quote(maturity)) in the\n"
    "quote currency, the market's spot being for its reference date. `domestic_curve` (the\n"
    "quote currency's) and `foreign_curve` (the base's): market curves it discounts on (each\n"
    "on its own discount curve); None, the market's one curve of that currency whose name\n"
    "starts with it (\"usd-...\") and that discounts on itself.");
constexpr FunctionDef def_fx_forward_npv = typed_method<&fx_forward_npv>(
    "npv", {"market"}, "Its value on `market`, in the pair's quote currency, as a `Book` values it.");
constexpr FunctionDef def_fx_forward_reduce =
    method<fx_forward_reduce>("__reduce__", {}, "Pickle support: rebuild through the constructor.")
        .returning("Tuple[Any, ...]");

constexpr Callable kFxForwardNew = callable<def_fx_forward_new>;
constexpr Callable kFxForwardMethods[] = {callable<def_fx_forward_npv>, callable<def_fx_forward_reduce>};

const GetterDef kFxForwardGetters[] = {
    attribute<&FxForward::pair, text_py>("pair", "The currency pair, base then quote.", "str"),
    attribute<&FxForward::maturity, to_py_date>("maturity", "The exchange date.", "datetime.date"),
    attribute<&FxForward::strike>("strike", "The agreed rate, quote currency per base unit.", "float"),
    attribute<&FxForward::notional>("notional", "The base currency bought (negative: sold).", "float"),
    attribute<&FxForward::domestic_curve, text_py>("domestic_curve", "The quote currency's market curve, or None.",
                                                   "str | None"),
    attribute<&FxForward::foreign_curve, text_py>("foreign_curve", "The base currency's market curve, or None.",
                                                  "str | None"),
};

// --- EuropeanOption ---

Result<EuropeanOption> option_new(std::string_view underlying, double strike, Date expiry, OptionType option_type,
                                  double notional, const std::optional<std::string_view>& curve,
                                  std::string_view engine) {
    EuropeanOption o;
    QUELM_TRY(c, curve_name(curve));
    if (engine != "analytic" && engine != "fd")
        return bad_argument("european option: engine must be \"analytic\" or \"fd\", got \"" + std::string(engine) +
                            "\"");
    o.by_fd = engine == "fd";
    o.underlying = std::string(underlying);
    o.strike = strike;
    o.expiry = expiry.serial;
    o.type = option_type;
    o.notional = notional;
    o.curve = std::move(c);
    QUELM_CHECK(book::check(o));
    return o;
}

Result<double> option_npv(const EuropeanOption& o, const book::Market& market) {
    QUELM_TRY(v, book::value_option(o, market, false));
    return v.value;
}

PyObject* option_type_py(OptionType t) { return to_py(t); }
PyObject* option_repr(PyObject* self) { return to_py(book::describe(value_of<EuropeanOption>(self))); }
bool option_equal(PyObject* a, PyObject* b) { return value_of<EuropeanOption>(a) == value_of<EuropeanOption>(b); }
PyObject* option_reduce(const EuropeanOption& o) {
    Ref type(to_py(o.type));
    if (!type) return nullptr;
    return reduce_with(european_option_type(),
                       Py_BuildValue("(s#dNO)", o.underlying.data(), static_cast<Py_ssize_t>(o.underlying.size()),
                                     o.strike, to_py_date(o.expiry), type.get()),
                       {{"notional", to_py(o.notional)}, {"curve", text_py(o.curve)},
                        {"engine", to_py(std::string_view(o.by_fd ? "fd" : "analytic"))}});
}
PyObject* engine_get(PyObject* self) {
    return to_py(std::string_view(value_of<EuropeanOption>(self).by_fd ? "fd" : "analytic"));
}

constexpr FunctionDef def_option_new = typed<&option_new>(
    "EuropeanOption",
    {"underlying", "strike", "expiry", "option_type", "*", {"notional", "1.0"}, {"curve", "None"},
     {"engine", "\"analytic\""}},
    "A European option on the market's volatility surface `underlying`: at `expiry` it pays\n"
    "`notional` × max(S − strike, 0) for a call, max(strike − S, 0) for a put. Priced by\n"
    "Black-Scholes with the surface's forward and volatility at the strike and the expiry's\n"
    "time on `curve`, discounted on `curve` (its own discount curve; None: the market's only\n"
    "curve). In a `Book` its risk is to that curve's quotes (the forward held by the surface)\n"
    "and to the surface's slices (vega per volatility point), with its Greeks. `engine` \"fd\"\n"
    "prices it by finite differences instead, on the same inputs and with the same risk as an\n"
    "`AmericanOption` (to compare the two on one engine).");
constexpr FunctionDef def_option_npv = typed_method<&option_npv>(
    "npv", {"market"}, "Its value on `market`, as a `Book` values it.");
constexpr FunctionDef def_option_reduce =
    method<option_reduce>("__reduce__", {}, "Pickle support: rebuild through the constructor.")
        .returning("Tuple[Any, ...]");

constexpr Callable kOptionNew = callable<def_option_new>;
constexpr Callable kOptionMethods[] = {callable<def_option_npv>, callable<def_option_reduce>};

const GetterDef kOptionGetters[] = {
    attribute<&EuropeanOption::underlying, text_py>("underlying", "The market surface it is priced on.", "str"),
    attribute<&EuropeanOption::strike>("strike", "The strike.", "float"),
    attribute<&EuropeanOption::expiry, to_py_date>("expiry", "The expiry date.", "datetime.date"),
    attribute<&EuropeanOption::type, option_type_py>("option_type", "\"call\" or \"put\".", "str"),
    attribute<&EuropeanOption::notional>("notional", "Units of the underlying (negative: sold).", "float"),
    attribute<&EuropeanOption::curve, text_py>("curve", "The market curve it discounts on, or None.", "str | None"),
    {"engine", "\"analytic\" (Black-Scholes) or \"fd\" (finite differences).", &engine_get, "str"},
};

// --- FxOption ---

Result<book::FxOption> fx_option_new(std::string_view pair, Date expiry, double strike, OptionType option_type,
                                     double notional, const std::optional<std::string_view>& premium_currency,
                                     const std::optional<std::string_view>& surface,
                                     const std::optional<std::string_view>& domestic_curve,
                                     const std::optional<std::string_view>& foreign_curve) {
    book::FxOption o;
    QUELM_TRY(p, book::parse_pair(pair));
    o.pair = std::move(p);
    if (premium_currency) {
        QUELM_TRY(c, book::parse_currency(*premium_currency));
        if (c != o.pair.substr(0, 3) && c != o.pair.substr(3))
            return bad_argument("fx option: premium_currency must be " + o.pair.substr(0, 3) + " or " +
                                o.pair.substr(3) + ", got " + c);
        o.premium_in_base = c == o.pair.substr(0, 3);
    }
    if (surface && surface->empty()) return bad_argument("surface names must not be empty");
    QUELM_TRY(d, curve_name(domestic_curve));
    QUELM_TRY(g, curve_name(foreign_curve));
    o.expiry = expiry.serial;
    o.strike = strike;
    o.type = option_type;
    o.notional = notional;
    o.surface = surface ? std::string(*surface) : std::string();
    o.domestic_curve = std::move(d);
    o.foreign_curve = std::move(g);
    QUELM_CHECK(book::check(o));
    return o;
}

Result<double> fx_option_npv(const book::FxOption& o, const book::Market& market) {
    QUELM_TRY(v, book::value_fx_option(o, market, false));
    return v.value;
}

PyObject* premium_py(const book::FxOption& o) {
    return to_py(std::string_view(o.pair).substr(o.premium_in_base ? 0 : 3, 3));
}
PyObject* fx_option_repr(PyObject* self) { return to_py(book::describe(value_of<book::FxOption>(self))); }
bool fx_option_equal(PyObject* a, PyObject* b) { return value_of<book::FxOption>(a) == value_of<book::FxOption>(b); }
PyObject* fx_option_reduce(const book::FxOption& o) {
    Ref type(to_py(o.type));
    if (!type) return nullptr;
    return reduce_with(fx_option_type(),
                       Py_BuildValue("(s#NdO)", o.pair.data(), static_cast<Py_ssize_t>(o.pair.size()),
                                     to_py_date(o.expiry), o.strike, type.get()),
                       {{"notional", to_py(o.notional)},
                        {"premium_currency", premium_py(o)},
                        {"surface", text_py(o.surface)},
                        {"domestic_curve", text_py(o.domestic_curve)},
                        {"foreign_curve", text_py(o.foreign_curve)}});
}
PyObject* premium_get(PyObject* self) { return premium_py(value_of<book::FxOption>(self)); }

constexpr FunctionDef def_fx_option_new = typed<&fx_option_new>(
    "FxOption",
    {"pair", "expiry", "strike", "option_type", "*", {"notional", "1.0"}, {"premium_currency", "None"},
     {"surface", "None"}, {"domestic_curve", "None"}, {"foreign_curve", "None"}},
    "An FX option: the right to buy (\"call\") or sell (\"put\") `notional` units of the pair's\n"
    "base currency for `strike` units of its quote currency each at `expiry`. Priced by\n"
    "Garman-Kohlhagen on the market's spot, the two currencies' curves (as `FxForward`'s) and\n"
    "the volatility at the strike of the market surface `surface` (None: the surface named by\n"
    "the pair, in any case). Its value is in `premium_currency`: the quote currency (None), or\n"
    "the base, the quote value over the spot. In a `Book` its risk is to both curves' quotes,\n"
    "the spot and the surface's slices, with its Greeks.");
constexpr FunctionDef def_fx_option_npv = typed_method<&fx_option_npv>(
    "npv", {"market"}, "Its value on `market`, in its premium currency, as a `Book` values it.");
constexpr FunctionDef def_fx_option_reduce =
    method<fx_option_reduce>("__reduce__", {}, "Pickle support: rebuild through the constructor.")
        .returning("Tuple[Any, ...]");

constexpr Callable kFxOptionNew = callable<def_fx_option_new>;
constexpr Callable kFxOptionMethods[] = {callable<def_fx_option_npv>, callable<def_fx_option_reduce>};

const GetterDef kFxOptionGetters[] = {
    attribute<&book::FxOption::pair, text_py>("pair", "The currency pair, base then quote.", "str"),
    attribute<&book::FxOption::expiry, to_py_date>("expiry", "The expiry date.", "datetime.date"),
    attribute<&book::FxOption::strike>("strike", "The strike, quote currency per base unit.", "float"),
    attribute<&book::FxOption::type, option_type_py>("option_type", "\"call\" (buys the base) or \"put\".", "str"),
    attribute<&book::FxOption::notional>("notional", "Units of the base currency (negative: sold).", "float"),
    {"premium_currency", "The currency its value is in.", &premium_get, "str"},
    attribute<&book::FxOption::surface, text_py>("surface", "The market surface it reads, or None (the pair's).",
                                                 "str | None"),
    attribute<&book::FxOption::domestic_curve, text_py>("domestic_curve", "The quote currency's market curve, or None.",
                                                        "str | None"),
    attribute<&book::FxOption::foreign_curve, text_py>("foreign_curve", "The base currency's market curve, or None.",
                                                       "str | None"),
};

}  // namespace

PyTypeObject* fx_option_type() {
    static const ClassDef def{"FxOption",
                              "Immutable; compares equal to the same option on the same terms and pickles.\n\n"
                              "    >>> import quelm\n"
                              "    >>> quelm.FxOption(\"EURUSD\", \"2027-03-02\", 1.10, \"call\", notional=1e6)\n"
                              "    <FxOption EURUSD call 1.1 expiring 2027-03-02>",
                              kFxOptionMethods,
                              std::size(kFxOptionMethods),
                              kFxOptionGetters,
                              std::size(kFxOptionGetters),
                              &fx_option_repr,
                              &fx_option_equal,
                              nullptr,
                              &kFxOptionNew};
    static PyTypeObject* type = create_class(def);
    return type;
}
QUELM_PUBLIC_CLASS(fx_option_type);

PyTypeObject* fx_forward_type() {
    static const ClassDef def{"FxForward",
                              "Immutable; compares equal to the same forward on the same terms and pickles.\n\n"
                              "    >>> import quelm\n"
                              "    >>> quelm.FxForward(\"EURUSD\", \"2027-03-02\", 1.09, notional=1e6)\n"
                              "    <FxForward EURUSD 1.09 on 2027-03-02>",
                              kFxForwardMethods,
                              std::size(kFxForwardMethods),
                              kFxForwardGetters,
                              std::size(kFxForwardGetters),
                              &fx_forward_repr,
                              &fx_forward_equal,
                              nullptr,
                              &kFxForwardNew};
    static PyTypeObject* type = create_class(def);
    return type;
}
QUELM_PUBLIC_CLASS(fx_forward_type);

PyTypeObject* european_option_type() {
    static const ClassDef def{"EuropeanOption",
                              "Immutable; compares equal to the same option on the same terms and pickles.\n\n"
                              "    >>> import quelm\n"
                              "    >>> quelm.EuropeanOption(\"spx\", 5000.0, \"2027-03-19\", \"call\", notional=10.0)\n"
                              "    <EuropeanOption call on spx 5000 expiring 2027-03-19>",
                              kOptionMethods,
                              std::size(kOptionMethods),
                              kOptionGetters,
                              std::size(kOptionGetters),
                              &option_repr,
                              &option_equal,
                              nullptr,
                              &kOptionNew};
    static PyTypeObject* type = create_class(def);
    return type;
}
QUELM_PUBLIC_CLASS(european_option_type);

}  // namespace quelm::py

// Python class HullWhite: the one-factor short-rate model fitted to a curve, its zero bonds
// and their options, caps, floors and European swaptions in closed form.
#include "bindings/rates/rate_args.hpp"

#include "bindings/string_options.hpp"
#include "frame/classes.hpp"
#include "frame/registry.hpp"
#include "frame/result.hpp"
#include "quelm/rates/hull_white.hpp"
#include "quelm/rates/hw_pde.hpp"
#include "quelm/rates/hw_tree.hpp"
#include "quelm/rates/hw_calibrate.hpp"

#include <string>

namespace quelm::py {

constexpr Section kSection = Section::FixedIncome;
constexpr std::string_view kGuide = "rate-options";


namespace {

// A trade the model prices: a CapFloor, a Swaption or a BermudanSwaption.
struct RateTradeArg {
    const rates::CapFloor* cap = nullptr;
    const rates::Swaption* swaption = nullptr;
    const rates::BermudanSwaption* bermudan = nullptr;
};
bool from_py(PyObject* o, RateTradeArg& out) {
    out = {};
    if (Py_TYPE(o) == bermudan_swaption_type()) {
        out.bermudan = &value_of<rates::BermudanSwaption>(o);
        return true;
    }
    if (Py_TYPE(o) == cap_floor_type()) {
        out.cap = &value_of<rates::CapFloor>(o);
        return true;
    }
    if (Py_TYPE(o) == swaption_type()) {
        out.swaption = &value_of<rates::Swaption>(o);
        return true;
    }
    PyErr_Format(PyExc_TypeError, "expected quelm.CapFloor, quelm.Swaption or quelm.BermudanSwaption, got %s",
                 Py_TYPE(o)->tp_name);
    return false;
}

}  // namespace

namespace {

// A sequence of Swaption instances.
struct SwaptionList {
    std::vector<rates::Swaption> items;
};
bool from_py(PyObject* o, SwaptionList& out) {
    if (PyUnicode_Check(o) || !PySequence_Check(o)) {
        PyErr_Format(PyExc_TypeError, "expected a sequence of quelm.Swaption, got %s", Py_TYPE(o)->tp_name);
        return false;
    }
    Ref seq(PySequence_Fast(o, "expected a sequence of quelm.Swaption"));
    if (!seq) return false;
    out.items.clear();
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(seq.get()); ++i) {
        PyObject* item = PySequence_Fast_GET_ITEM(seq.get(), i);
        if (Py_TYPE(item) != swaption_type()) {
            PyErr_Format(PyExc_TypeError, "expected a sequence of quelm.Swaption, got %s at %zd",
                         Py_TYPE(item)->tp_name, i);
            return false;
        }
        out.items.push_back(value_of<rates::Swaption>(item));
    }
    return true;
}

}  // namespace

template <>
struct Annotation<SwaptionList> {
    static const char* param() { return "_ArrayLike[Swaption]"; }
};

template <>
struct Annotation<RateTradeArg> {
    static const char* param() { return "CapFloor | Swaption | BermudanSwaption"; }
};

namespace {

constinit const auto kHwFit = record<rates::HullWhiteFit>({
    {"model", [](const rates::HullWhiteFit& f) { return wrap(hull_white_type(), f.model); }, [] { return "HullWhite"; }},
    {"a", [](const rates::HullWhiteFit& f) { return to_py(f.model.a); }, [] { return "float"; }},
    {"sigma", [](const rates::HullWhiteFit& f) { return to_py(f.model.sigma); }, [] { return "float"; }},
    QUELM_FIELD(rates::HullWhiteFit, rmse), QUELM_FIELD(rates::HullWhiteFit, max_error),
    {"iterations", [](const rates::HullWhiteFit& f) { return to_py(static_cast<std::uint64_t>(f.iterations)); },
     [] { return "int"; }},
    {"converged", [](const rates::HullWhiteFit& f) { return PyBool_FromLong(f.converged ? 1 : 0); },
     [] { return "bool"; }},
    QUELM_FIELD(rates::HullWhiteFit, residuals),
});

}  // namespace

QUELM_RECORD(rates::HullWhiteFit, kHwFit, "HullWhiteFit");

namespace {

using rates::HullWhite;

Result<rates::HullWhiteFit> hw_calibrate_of(const curves::YieldCurve& curve, const SwaptionList& swaptions,
                                            const FloatSeq& vols, rates::VolModel model, double shift,
                                            const std::optional<double>& fix_a, Cancel& cancel) {
    return rates::hw_calibrate(curve, swaptions.items, vols.view(), {model, shift}, fix_a, cancel);
}

Result<HullWhite> hw_new(double a, double sigma, const curves::YieldCurve& curve) {
    HullWhite m{a, sigma, curve};
    QUELM_CHECK(rates::check(m));
    return m;
}
Result<double> hw_zero_bond_of(const HullWhite& m, double t, double T, double short_rate) {
    return rates::hw_zero_bond(m, t, T, short_rate);
}
Result<double> hw_option_of(const HullWhite& m, double expiry, double maturity, double strike, OptionType kind) {
    return rates::hw_zero_bond_option(m, expiry, maturity, strike, kind == OptionType::Call ? 1.0 : -1.0);
}
Result<double> hw_price_of(const HullWhite& m, const RateTradeArg& trade, rates::HwMethod method,
                           std::uint64_t steps, Cancel& cancel) {
    if (method != rates::HwMethod::Analytic) {
        if (trade.cap) return invalid("HullWhite: a CapFloor is priced in closed form: method=\"analytic\"");
        const auto by = method == rates::HwMethod::Tree ? &rates::hw_bermudan_tree : &rates::hw_bermudan_pde;
        if (trade.bermudan) return by(m, *trade.bermudan, steps, cancel);
        QUELM_TRY(b, rates::as_bermudan(*trade.swaption, m.curve));
        return by(m, b, steps, cancel);
    }
    if (trade.bermudan) return invalid("HullWhite: a BermudanSwaption needs method=\"tree\" or method=\"pde\"");
    if (trade.cap) return rates::hw_cap_price(m, *trade.cap);
    return rates::hw_swaption_price(m, *trade.swaption);
}
Result<double> hw_convexity_of(const HullWhite& m, double start, double end) {
    return rates::hw_futures_convexity(m, start, end);
}

PyObject* hw_repr(PyObject* self) {
    const HullWhite& m = value_of<HullWhite>(self);
    const std::string text = "HullWhite(" + format_number(m.a) + ", " + format_number(m.sigma) + ", <YieldCurve>)";
    return to_py(std::string_view(text));
}
bool hw_equal(PyObject* a, PyObject* b) { return value_of<HullWhite>(a) == value_of<HullWhite>(b); }

constexpr FunctionDef def_hw_new = typed<&hw_new>(
    "HullWhite", {"a", "sigma", "curve"},
    "The Hull-White model dr = (theta(t) - a r) dt + sigma dW, theta fitted to `curve` (which\n"
    "both projects and discounts): mean reversion `a` and volatility `sigma` per year. Times\n"
    "are `curve`'s (its day count from its reference date).");
constexpr FunctionDef def_hw_zero_bond = typed_method<&hw_zero_bond_of>(
    "zero_bond", {"t", "T", "short_rate"},
    "P(t, T) when the short rate at t is `short_rate`: A(t, T) e^(-B(t, T) r), B = (1 -\n"
    "e^(-a (T - t))) / a, A from the curve's discount factors and instantaneous forward at t.");
constexpr FunctionDef def_hw_option = typed_method<&hw_option_of>(
    "zero_bond_option", {"expiry", "maturity", "strike", {"kind", "\"call\""}},
    "Today's value of the European option (`kind` \"call\" or \"put\") at `expiry` on the zero\n"
    "bond paying 1 at `maturity`, struck at `strike`: the closed form (Jamshidian 1989).");
constexpr FunctionDef def_hw_price = typed_method<&hw_price_of>(
    "price", {"trade", "*", {"method", "\"analytic\""}, {"steps", "200"}},
    "The model's value of a `CapFloor` (its live caplets as options on zero bonds, each\n"
    "expiring at its period's start) or a physically settled `Swaption` (Jamshidian's\n"
    "decomposition into options on the fixed leg's zero bonds), in the trade's notional;\n"
    "with `method=\"tree\"` a `BermudanSwaption` (or a `Swaption` with settlement_days=0)\n"
    "by backward induction on the model's trinomial tree, `steps` steps to maturity through\n"
    "every exercise and payment date; with `method=\"pde\"` by Crank-Nicolson on the model's\n"
    "factor, `steps` time steps to the last exercise date (on whole days, landing on each\n"
    "exercise date) and twice as many space steps, the swap entered read in closed form at\n"
    "each exercise date.")
    .reading_options({"method"});
constexpr FunctionDef def_hw_convexity = typed_method<&hw_convexity_of>(
    "futures_convexity", {"start", "end"},
    "The futures rate minus the forward rate over [start, end], both continuously\n"
    "compounded: the model's convexity bias (sigma^2 start end / 2 as a -> 0, Ho-Lee's).\n"
    "\n"
    "    >>> import quelm\n"
    "    >>> m = quelm.HullWhite(1e-9, 0.012, quelm.YieldCurve.flat(0.05))\n"
    "    >>> round(m.futures_convexity(8.0, 8.25), 6)\n"
    "    0.004752");

constexpr FunctionDef def_hw_calibrate = typed<&hw_calibrate_of>(
    "calibrate", {"curve", "swaptions", "vols", "*", {"model", "\"black\""}, {"shift", "0.0"}, {"fix_a", "None"}},
    "The model on `curve` that fits European `swaptions` (physically settled) quoted at\n"
    "`vols` in `model` (\"black\", \"shifted-black\" with `shift`, \"bachelier\"): a and sigma,\n"
    "or sigma alone with `fix_a`, by bounded Levenberg-Marquardt on the vols implied by the\n"
    "model's Jamshidian prices. Returns the fitted `model`, `a`, `sigma`, the `rmse` and\n"
    "`max_error` of the vols, `iterations`, `converged` and the per-swaption `residuals`.")
    .reading_options({"model"});

constexpr Callable kHwNew = callable<def_hw_new>;
// (HullWhite, (a, sigma, curve)).
PyObject* hw_reduce(const HullWhite& m) {
    Ref curve(wrap(yield_curve_type(), m.curve));
    if (!curve) return nullptr;
    return Py_BuildValue("(O(ddO))", reinterpret_cast<PyObject*>(hull_white_type()), m.a, m.sigma, curve.get());
}
constexpr FunctionDef def_hw_reduce =
    method<hw_reduce>("__reduce__", {}, "Pickle support: rebuild through the constructor.").returning("Tuple[Any, ...]");

constexpr Callable kHwMethods[] = {callable<def_hw_calibrate>, callable<def_hw_zero_bond>, callable<def_hw_option>, callable<def_hw_price>, callable<def_hw_reduce>,
                                   callable<def_hw_convexity>};

PyObject* curve_py(const curves::YieldCurve& c) { return wrap(yield_curve_type(), c); }

const GetterDef kHwGetters[] = {
    attribute<&HullWhite::a>("a", "The mean reversion per year.", "float"),
    attribute<&HullWhite::sigma>("sigma", "The short rate's volatility per sqrt(year).", "float"),
    attribute<&HullWhite::curve, curve_py>("curve", "The curve the model fits.", "YieldCurve"),
};

}  // namespace

PyTypeObject* hull_white_type() {
    static const std::string doc =
        "Immutable; compares equal to the same parameters on an equal curve.\n\n"
        "    >>> import quelm\n    >>> quelm.HullWhite(0.05, 0.01, quelm.YieldCurve.flat(0.03))\n"
        "    HullWhite(0.05, 0.01, <YieldCurve>)";
    static const ClassDef def{"HullWhite", doc.c_str(), kHwMethods, std::size(kHwMethods), kHwGetters,
                              std::size(kHwGetters), &hw_repr, &hw_equal, nullptr, &kHwNew};
    static PyTypeObject* type = create_class(def);
    return type;
}
QUELM_PUBLIC_CLASS(hull_white_type);

}  // namespace quelm::py

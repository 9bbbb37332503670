// YieldCurve.bootstrap and the bucketed risk of a bootstrapped curve (methods and
// attributes of the YieldCurve class, listed in curves.cpp).
#include "frame/classes.hpp"
#include "frame/registry.hpp"
#include "bindings/curves/instruments.hpp"
#include "bindings/string_options.hpp"
#include "quelm/curves/bootstrap.hpp"
#include "quelm/curves/risk.hpp"

#include <memory>
#include <string>

namespace quelm::py {

template <>
struct ToPy<curves::RiskTable> {
    static PyObject* convert(const curves::RiskTable& r) {
        return make_list(r.rows, [&](std::size_t i) -> PyObject* {
            return to_py(std::span<const double>(r.values.data() + i * r.cols, r.cols));
        });
    }
};
template <>
struct Annotation<curves::RiskTable> {
    static const char* result() { return "list[list[float]]"; }
};

namespace {

using curves::YieldCurve;

Result<YieldCurve> bootstrap_of(Date reference_date, const InstrumentList& instruments, std::string_view day_count,
                                curves::BootstrapInterp interp, curves::Extrapolation extrapolate,
                                const std::optional<CurveRef>& discount_curve, Cancel& cancel) {
    curves::BootstrapSpec spec;
    spec.reference = reference_date.serial;
    spec.instruments = instruments.items;
    QUELM_TRY(dc, dates::parse_day_count(day_count));
    QUELM_CHECK(curves::check_period_day_count("bootstrap", "day_count", dc));
    spec.day_count = dc;
    spec.interp = interp;
    spec.extrapolate = extrapolate;
    if (discount_curve) spec.discount = std::make_shared<const YieldCurve>(*discount_curve->curve);
    return curves::bootstrap(std::move(spec), cancel);
}

Result<curves::RiskTable> risk_of(const YieldCurve& curve, const BookArg& book, Cancel& cancel) {
    return curves::bucketed_risk(curve, book.items, cancel);
}

}  // namespace

extern const FunctionDef def_curve_bootstrap = typed<&bootstrap_of>(
    "bootstrap",
    {"reference_date", "instruments", "*", {"day_count", "\"act/365f\""}, {"interp", "\"log-linear\""},
     {"extrapolate", "\"flat-forward\""}, {"discount_curve", "None"}},
    "The curve that reprices every instrument (Deposit, Fra, Future, Ois, Swap, BondQuote)\n"
    "at `reference_date`, the trade date and the curve's t = 0: one pillar per instrument,\n"
    "at the latest date it reads, times in `day_count` years. `interp`: \"log-linear\" (on\n"
    "discount factors), \"linear-zero\", \"natural-cubic\" (on zero rates), \"monotone-convex\"\n"
    "(Hagan-West) or \"flat-forward\". With `discount_curve` (say, one bootstrapped from Ois\n"
    "quotes) payments discount on it and the curve built projects forwards.");

extern const FunctionDef def_curve_risk = typed_method<&risk_of>(
    "risk", {"book"},
    "Bucketed risk of a bootstrapped curve: for each position of `book` (an instrument, a\n"
    "DatedBond, or a sequence of them) the derivative of its value (`npv`; a bond's present\n"
    "value) with respect to each input quote, in the order of the curve's `instruments`\n"
    "attribute (on a projection curve, the quotes of its bootstrapped discount curve first):\n"
    "one row per position. Per unit of quote (rates as decimals, a future's rate, a bond's clean\n"
    "price): multiply by 0.0001 for a DV01 per basis point. Exact derivatives, by\n"
    "implicit differentiation of the bootstrap. An instrument's row is times its `notional`.");

PyObject* curve_instruments_get(PyObject* self) {
    const std::vector<const curves::Instrument*> quotes = curves::risk_quotes(value_of<YieldCurve>(self));
    Ref list(make_list(quotes.size(), [&](std::size_t i) { return wrap_instrument(*quotes[i]); }));
    if (!list) return nullptr;
    return PyList_AsTuple(list.get());
}

PyObject* curve_pillar_dates_get(PyObject* self) {
    const auto& state = value_of<YieldCurve>(self).bootstrap_state();
    if (!state) return none();
    return to_py_dates(state->pillars);
}

// (functools.partial(YieldCurve.bootstrap, **options), (reference_date, [instruments])).
PyObject* bootstrapped_reduce(const YieldCurve& c) {
    const curves::BootstrapSpec& spec = c.bootstrap_state()->spec;
    Ref functools(PyImport_ImportModule("functools"));
    if (!functools) return nullptr;
    Ref partial(PyObject_GetAttrString(functools.get(), "partial"));
    Ref method(PyObject_GetAttrString(reinterpret_cast<PyObject*>(yield_curve_type()), "bootstrap"));
    Ref kwargs(PyDict_New());
    if (!partial || !method || !kwargs) return nullptr;
    const auto put = [&](const char* key, PyObject* value) {
        Ref v(value);
        return v && PyDict_SetItemString(kwargs.get(), key, v.get()) == 0;
    };
    if (!put("day_count", to_py(dates::day_count_name(spec.day_count))) ||
        !put("interp", to_py(curves::bootstrap_interp_name(spec.interp))) ||
        !put("extrapolate", to_py(curves::extrapolation_name(spec.extrapolate))) ||
        !put("discount_curve", spec.discount ? wrap(yield_curve_type(), *spec.discount) : none()))
        return nullptr;
    Ref head(PyTuple_Pack(1, method.get()));
    if (!head) return nullptr;
    Ref fn(PyObject_Call(partial.get(), head.get(), kwargs.get()));
    Ref ref(to_py_date(spec.reference));
    Ref items(make_list(spec.instruments.size(), [&](std::size_t i) { return wrap_instrument(spec.instruments[i]); }));
    if (!fn || !ref || !items) return nullptr;
    Ref args(PyTuple_Pack(2, ref.get(), items.get()));
    return args ? PyTuple_Pack(2, fn.get(), args.get()) : nullptr;
}

}  // namespace quelm::py

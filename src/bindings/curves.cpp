// Python class YieldCurve.
#include "bindings/frame/classes.hpp"
#include "bindings/frame/registry.hpp"
#include "bindings/frame/result.hpp"
#include "quelm/core/math/interpolate.hpp"
#include "quelm/curves/curve.hpp"

#include <string>

namespace quelm::py {

constexpr Section kSection = Section::FixedIncome;

PyTypeObject* yield_curve_type();

namespace {

using curves::YieldCurve;

PyObject* make_curve(const Result<YieldCurve>& r) {
    return finish(r, [](const YieldCurve& c) { return wrap(yield_curve_type(), c); });
}

PyObject* flat_impl(double rate) {
    return make_curve(YieldCurve::flat(rate));
}

PyObject* from_zero_rates_impl(const FloatSeq& times, const FloatSeq& rates, std::string_view interp) {
    Interp mode;
    if (!choose(kInterps, interp, mode)) return nullptr;
    return make_curve(
        compute(times.size(), [&] { return YieldCurve::from_zero_rates(times.view(), rates.view(), mode); }));
}

PyObject* from_discount_factors_impl(const FloatSeq& times, const FloatSeq& dfs, std::string_view interp) {
    Interp mode;
    if (!choose(kInterps, interp, mode)) return nullptr;
    return make_curve(
        compute(times.size(), [&] { return YieldCurve::from_discount_factors(times.view(), dfs.view(), mode); }));
}

PyObject* from_log_discounts_impl(const FloatSeq& times, const FloatSeq& log_dfs) {
    return make_curve(
        compute(times.size(), [&] { return YieldCurve::from_log_discounts(times.view(), log_dfs.view()); }));
}

// (constructor, args): flat -> flat(rate); zero-rate modes -> from_zero_rates with
// the stored rates; log-linear -> the private rebuild from stored ln P, exact.
PyObject* reduce_impl(const YieldCurve& c) {
    PyObject* type = reinterpret_cast<PyObject*>(yield_curve_type());
    const char* ctor = c.is_flat() ? "flat" : c.interp() == Interp::LogLinear ? "_from_log_discounts" : "from_zero_rates";
    Ref fn(PyObject_GetAttrString(type, ctor));
    if (!fn) return nullptr;
    Ref args;
    if (c.is_flat()) {
        args = Ref(Py_BuildValue("(d)", c.rate()));
    } else {
        Ref times(to_py(c.times()));
        Ref values(to_py(c.values()));
        if (!times || !values) return nullptr;
        if (c.interp() == Interp::LogLinear) {
            args = Ref(PyTuple_Pack(2, times.get(), values.get()));
        } else {
            Ref mode(PyUnicode_FromString(interp_name(c.interp())));
            if (!mode) return nullptr;
            args = Ref(PyTuple_Pack(3, times.get(), values.get(), mode.get()));
        }
    }
    if (!args) return nullptr;
    return PyTuple_Pack(2, fn.get(), args.get());
}

PyObject* curve_repr(PyObject* self) {
    const YieldCurve& c = value_of<YieldCurve>(self);
    std::string text;
    if (c.is_flat()) {
        text = "YieldCurve.flat(" + format_number(c.rate()) + ")";
    } else {
        const auto t = c.times();
        text = std::string("<YieldCurve ") + interp_name(c.interp()) + ", " + std::to_string(t.size()) +
               " pillars from t=" + format_number(t.front()) + " to t=" + format_number(t.back()) + ">";
    }
    return to_py(text);
}

bool curve_equal(PyObject* a, PyObject* b) { return value_of<YieldCurve>(a) == value_of<YieldCurve>(b); }

// Static constructors, then instance methods, in the order the class lists them.
constexpr FunctionDef def_flat = function<flat_impl>(
    "flat", {"rate"},
    "A flat continuously-compounded curve at `rate` for every maturity.");
constexpr FunctionDef def_from_zero_rates = function<from_zero_rates_impl>(
    "from_zero_rates", {"times", "rates", {"interp", "\"log-linear\""}},
    "Build from continuously-compounded zero rates at the given pillar times.");
constexpr FunctionDef def_from_discount_factors = function<from_discount_factors_impl>(
    "from_discount_factors", {"times", "dfs", {"interp", "\"log-linear\""}},
    "Build from discount factors at the given pillar times.");
constexpr FunctionDef def_discount = method<query<&YieldCurve::discount>>(
    "discount", {"t"},
    "Discount factor `P(t)` (with `P(0) = 1`).");
constexpr FunctionDef def_zero_rate = method<query<&YieldCurve::zero_rate>>(
    "zero_rate", {"t"},
    "Continuously-compounded zero rate `z(t)`.");
constexpr FunctionDef def_forward_rate = method<query<&YieldCurve::forward_rate>>(
    "forward_rate", {"t1", "t2"},
    "Continuously-compounded forward rate over `[t1, t2]`.");
constexpr FunctionDef def_reduce = method<reduce_impl>(
    "__reduce__", {},
    "Pickle support: rebuild through a static constructor.");
constexpr FunctionDef def_from_log_discounts = function<from_log_discounts_impl>(
    "_from_log_discounts", {"times", "log_dfs"},
    "Internal: rebuild a log-linear curve from its log discount factors (unpickling).");

constexpr Callable kMethods[] = {
    callable<def_flat>, callable<def_from_zero_rates>, callable<def_from_discount_factors>,
    callable<def_discount>, callable<def_zero_rate>, callable<def_forward_rate>, callable<def_reduce>,
    callable<def_from_log_discounts>,
};

const ClassDef kClass = {
    "YieldCurve",
    "A yield curve / term structure: build once, query many times.\n"
    "\n"
    "Construct with one of the static methods, then query continuously-compounded\n"
    "quantities (time in years, `Act/365`):\n"
    "\n"
    "    >>> import quelm\n"
    "    >>> c = quelm.YieldCurve.from_zero_rates([0.5, 1, 2, 5], [0.02, 0.025, 0.03, 0.035],\n"
    "    ...                                      interp=\"natural-cubic\")\n"
    "    >>> c.discount(1.5), c.zero_rate(1.5), c.forward_rate(1.5, 2.5)",
    kMethods, std::size(kMethods), nullptr, 0, &curve_repr, &curve_equal,
};

}  // namespace

PyTypeObject* yield_curve_type() {
    static PyTypeObject* type = create_class(kClass);
    return type;
}

QUELM_PUBLIC_CLASS(yield_curve_type);

}  // namespace quelm::py

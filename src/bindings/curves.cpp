// Python class YieldCurve.
#include "bindings/frame/declare.hpp"
#include "bindings/frame/registry.hpp"
#include "bindings/instances.hpp"
#include "bindings/string_options.hpp"
#include "quelm/core/math/interpolate.hpp"
#include "quelm/curves/curve.hpp"

#include <span>
#include <string>

namespace quelm::py {

constexpr Section kSection = Section::FixedIncome;
constexpr std::string_view kGuide = "fixed-income";  // the guide page of its names

namespace {

using curves::YieldCurve;

using Series = std::span<const double>;

Result<YieldCurve> flat_of(double rate) { return YieldCurve::flat(rate); }

Result<YieldCurve> from_zero_rates_of(Series times, Series rates, Interp interp) {
    return YieldCurve::from_zero_rates(times, rates, interp);
}

Result<YieldCurve> from_discount_factors_of(Series times, Series dfs, Interp interp) {
    return YieldCurve::from_discount_factors(times, dfs, interp);
}

Result<YieldCurve> from_log_discounts_of(Series times, Series log_dfs) {
    return YieldCurve::from_log_discounts(times, log_dfs);
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
constexpr FunctionDef def_flat = typed<&flat_of>(
    "flat", {"rate"},
    "A flat continuously-compounded curve at `rate` for every maturity.");
constexpr FunctionDef def_from_zero_rates = typed<&from_zero_rates_of>(
    "from_zero_rates", {"times", "rates", {"interp", "\"log-linear\""}},
    "Build from continuously-compounded zero rates at the given pillar times.").locking(Lock::BySize);
constexpr FunctionDef def_from_discount_factors = typed<&from_discount_factors_of>(
    "from_discount_factors", {"times", "dfs", {"interp", "\"log-linear\""}},
    "Build from discount factors at the given pillar times.").locking(Lock::BySize);
constexpr FunctionDef def_discount = typed_method_in_vec<member_function<&YieldCurve::discount>>(
    "discount", {"t"},
    "Discount factor `P(t)` (with `P(0) = 1`).", "discount", "curve", &yield_curve_type);
constexpr FunctionDef def_zero_rate = typed_method_in_vec<member_function<&YieldCurve::zero_rate>>(
    "zero_rate", {"t"},
    "Continuously-compounded zero rate `z(t)`.", "zero_rate", "curve", &yield_curve_type);
constexpr FunctionDef def_forward_rate = typed_method_in_vec<member_function<&YieldCurve::forward_rate>>(
    "forward_rate", {"t1", "t2"},
    "Continuously-compounded forward rate over `[t1, t2]`.", "forward_rate", "curve", &yield_curve_type);
constexpr FunctionDef def_reduce = method<reduce_impl>(
    "__reduce__", {},
    "Pickle support: rebuild through a static constructor.").returning("Tuple[Any, ...]");
constexpr FunctionDef def_from_log_discounts = typed<&from_log_discounts_of>(
    "_from_log_discounts", {"times", "log_dfs"},
    "Internal: rebuild a log-linear curve from its log discount factors (unpickling).").locking(Lock::BySize);

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

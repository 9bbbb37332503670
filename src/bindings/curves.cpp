// Python class YieldCurve.
#include "bindings/frame/args.hpp"
#include "bindings/frame/classes.hpp"
#include "bindings/frame/result.hpp"
#include "quelm/core/math/interpolate.hpp"
#include "quelm/curves/curve.hpp"

#include <string>

namespace quelm::py {

PyTypeObject* yield_curve_type();

namespace {

using curves::YieldCurve;

PyObject* make_curve(const Result<YieldCurve>& r) {
    return finish(r, [](const YieldCurve& c) { return wrap(yield_curve_type(), c); });
}

PyObject* flat_impl(Args& a) {
    double rate;
    if (!a.all(rate)) return nullptr;
    return make_curve(YieldCurve::flat(rate));
}

PyObject* from_zero_rates_impl(Args& a) {
    FloatSeq times, rates;
    std::string interp = "log-linear";
    if (!a.all(times, rates, interp)) return nullptr;
    Interp mode;
    if (!parsed(parse_interp(interp), mode)) return nullptr;
    return make_curve(YieldCurve::from_zero_rates(times.view(), rates.view(), mode));
}

PyObject* from_discount_factors_impl(Args& a) {
    FloatSeq times, dfs;
    std::string interp = "log-linear";
    if (!a.all(times, dfs, interp)) return nullptr;
    Interp mode;
    if (!parsed(parse_interp(interp), mode)) return nullptr;
    return make_curve(YieldCurve::from_discount_factors(times.view(), dfs.view(), mode));
}

PyObject* from_log_discounts_impl(Args& a) {
    FloatSeq times, log_dfs;
    if (!a.all(times, log_dfs)) return nullptr;
    return make_curve(YieldCurve::from_log_discounts(times.view(), log_dfs.view()));
}

PyObject* discount_impl(Args& a) {
    double t;
    if (!a.all(t)) return nullptr;
    return finish(value_of<YieldCurve>(a.self()).discount(t));
}

PyObject* zero_rate_impl(Args& a) {
    double t;
    if (!a.all(t)) return nullptr;
    return finish(value_of<YieldCurve>(a.self()).zero_rate(t));
}

PyObject* forward_rate_impl(Args& a) {
    double t1, t2;
    if (!a.all(t1, t2)) return nullptr;
    return finish(value_of<YieldCurve>(a.self()).forward_rate(t1, t2));
}

// (constructor, args): flat -> flat(rate); zero-rate modes -> from_zero_rates with
// the stored rates; log-linear -> the private rebuild from stored ln P, exact.
PyObject* reduce_impl(Args& a) {
    const YieldCurve& c = value_of<YieldCurve>(a.self());
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

const FunctionDef def_flat = {
    "flat(rate)\n--\n\n"
    "A flat continuously-compounded curve at `rate` for every maturity.",
    &flat_impl,
};
const FunctionDef def_from_zero_rates = {
    "from_zero_rates(times, rates, interp=\"log-linear\")\n--\n\n"
    "Build from continuously-compounded zero rates at the given pillar times.",
    &from_zero_rates_impl,
};
const FunctionDef def_from_discount_factors = {
    "from_discount_factors(times, dfs, interp=\"log-linear\")\n--\n\n"
    "Build from discount factors at the given pillar times.",
    &from_discount_factors_impl,
};
const FunctionDef def_discount = {
    "discount($self, t)\n--\n\n"
    "Discount factor `P(t)` (with `P(0) = 1`).",
    &discount_impl,
};
const FunctionDef def_zero_rate = {
    "zero_rate($self, t)\n--\n\n"
    "Continuously-compounded zero rate `z(t)`.",
    &zero_rate_impl,
};
const FunctionDef def_forward_rate = {
    "forward_rate($self, t1, t2)\n--\n\n"
    "Continuously-compounded forward rate over `[t1, t2]`.",
    &forward_rate_impl,
};
const FunctionDef def_reduce = {
    "__reduce__($self)\n--\n\n"
    "Pickle support: rebuild through a static constructor.",
    &reduce_impl,
};
const FunctionDef def_from_log_discounts = {
    "_from_log_discounts(times, log_dfs)\n--\n\n"
    "Internal: rebuild a log-linear curve from its log discount factors (unpickling).",
    &from_log_discounts_impl,
};

const FunctionDef* const kMethods[] = {
    &def_flat, &def_from_zero_rates, &def_from_discount_factors, &def_discount,
    &def_zero_rate, &def_forward_rate, &def_reduce, &def_from_log_discounts,
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
    kMethods, sizeof(kMethods) / sizeof(kMethods[0]), nullptr, 0, &curve_repr, &curve_equal,
};

}  // namespace

PyTypeObject* yield_curve_type() {
    static PyTypeObject* type = create_class(kClass);
    return type;
}

}  // namespace quelm::py

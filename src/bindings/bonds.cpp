// Python class FixedRateBond.
#include "bindings/frame/classes.hpp"
#include "bindings/frame/result.hpp"
#include "quelm/bonds/bond.hpp"
#include "quelm/curves/curve.hpp"

#include <string>
#include <vector>

namespace quelm::py {

PyTypeObject* yield_curve_type();
PyTypeObject* fixed_rate_bond_type();
extern const FunctionDef def_fixed_rate_bond_dated;

namespace {

using bonds::Cashflow;
using bonds::FixedRateBond;

// The `curve` argument: a YieldCurve instance, nothing else.
struct CurveArg {
    const curves::YieldCurve* curve = nullptr;
};

bool from_py(PyObject* o, CurveArg& out) {
    if (Py_TYPE(o) != yield_curve_type()) {
        PyErr_Format(PyExc_TypeError, "expected quelm.YieldCurve, got %s", Py_TYPE(o)->tp_name);
        return false;
    }
    out.curve = &value_of<curves::YieldCurve>(o);
    return true;
}

PyObject* make_bond(const Result<FixedRateBond>& r) {
    return finish(r, [](const FixedRateBond& b) { return wrap(fixed_rate_bond_type(), b); });
}

PyObject* regular_impl(double face, double coupon_rate, U32 frequency, U32 n_periods) {
    return make_bond(compute(
        [&](Cancel& c) { return FixedRateBond::regular(face, coupon_rate, frequency.value, n_periods.value, c); }));
}

PyObject* from_cashflows_impl(const FloatSeq& times, const FloatSeq& amounts, U32 frequency, double accrued,
                              double face, double coupon_rate) {
    return make_bond(compute(times.size(), [&] {
        return FixedRateBond::from_cashflows(frequency.value, times.view(), amounts.view(), face, coupon_rate, accrued);
    }));
}

PyObject* accrued_get(PyObject* self) { return to_py(value_of<FixedRateBond>(self).accrued()); }

PyObject* price_from_curve_impl(const FixedRateBond& b, const CurveArg& curve) {
    return finish(compute([&](Cancel& c) { return b.price_from_curve(*curve.curve, c); }),
                  [](const std::pair<double, double>& p) { return to_py_pair(p.first, p.second); });
}

// (from_cashflows, (times, amounts, frequency, accrued, face, coupon_rate)):
// every stored field goes back unchanged, so the rebuilt bond is equal.
PyObject* reduce_impl(const FixedRateBond& b) {
    Ref fn(PyObject_GetAttrString(reinterpret_cast<PyObject*>(fixed_rate_bond_type()), "from_cashflows"));
    if (!fn) return nullptr;
    std::vector<double> times, amounts;
    times.reserve(b.cashflows().size());
    amounts.reserve(b.cashflows().size());
    for (const Cashflow& c : b.cashflows()) {
        times.push_back(c.time);
        amounts.push_back(c.amount);
    }
    Ref t(to_py(times)), m(to_py(amounts));
    Ref f(to_py(static_cast<std::uint64_t>(b.frequency())));
    Ref acc(to_py(b.accrued())), face(to_py(b.face())), coupon(to_py(b.coupon_rate()));
    if (!t || !m || !f || !acc || !face || !coupon) return nullptr;
    Ref args(PyTuple_Pack(6, t.get(), m.get(), f.get(), acc.get(), face.get(), coupon.get()));
    if (!args) return nullptr;
    return PyTuple_Pack(2, fn.get(), args.get());
}

PyObject* bond_repr(PyObject* self) {
    const FixedRateBond& b = value_of<FixedRateBond>(self);
    const std::string text = "<FixedRateBond " + std::to_string(b.cashflows().size()) + " cashflows to t=" +
                             format_number(b.cashflows().back().time) + ", frequency=" +
                             std::to_string(b.frequency()) + ", face=" + format_number(b.face()) +
                             ", coupon_rate=" + format_number(b.coupon_rate()) +
                             ", accrued=" + format_number(b.accrued()) + ">";
    return to_py(text);
}

bool bond_equal(PyObject* a, PyObject* b) { return value_of<FixedRateBond>(a) == value_of<FixedRateBond>(b); }

// Static constructors, then instance methods, in the order the class lists them.
const FunctionDef kMethods[] = {
    function<regular_impl>(
        "regular", {"face", "coupon_rate", "frequency", "n_periods"},
        "A regular bond settling on a coupon date: `n_periods` equal coupons at\n"
        "`t = k/frequency`, plus `face` redeemed at the last. Accrued is zero."),
    function<from_cashflows_impl>(
        "from_cashflows",
        {"times", "amounts", "frequency", {"accrued", "0.0"}, {"face", "100.0"}, {"coupon_rate", "0.0"}},
        "Build from explicit cashflows: `times` (years) and matching `amounts`,\n"
        "plus the accrued interest at settlement."),
    def_fixed_rate_bond_dated,
    method<polled_query<&FixedRateBond::dirty_price_from_yield>>(
        "dirty_price_from_yield", {"y"},
        "Dirty (full) price from a flat yield compounded at the coupon frequency."),
    method<polled_query<&FixedRateBond::clean_price_from_yield>>(
        "clean_price_from_yield", {"y"},
        "Clean price from a flat yield (`dirty − accrued`)."),
    method<polled_query<&FixedRateBond::yield_to_maturity>>(
        "yield_to_maturity", {"clean_price"},
        "Yield-to-maturity from a quoted clean price."),
    method<price_from_curve_impl>(
        "price_from_curve", {"curve"},
        "Dirty and clean price discounted on a yield curve, returned as a tuple."),
    method<polled_query<&FixedRateBond::macaulay_duration>>(
        "macaulay_duration", {"y"},
        "Macaulay duration at yield `y`."),
    method<polled_query<&FixedRateBond::modified_duration>>(
        "modified_duration", {"y"},
        "Modified duration at yield `y`."),
    method<polled_query<&FixedRateBond::convexity>>(
        "convexity", {"y"},
        "Convexity at yield `y`."),
    method<reduce_impl>(
        "__reduce__", {},
        "Pickle support: rebuild through `from_cashflows`."),
};

const GetterDef kGetters[] = {
    {"accrued", "Accrued interest at settlement.", &accrued_get},
};

const ClassDef kClass = {
    "FixedRateBond",
    "A fixed-rate bond: build once, price and analyse from a yield or a curve.\n"
    "\n"
    "    >>> import quelm\n"
    "    >>> b = quelm.FixedRateBond.regular(face=100, coupon_rate=0.05, frequency=2, n_periods=10)\n"
    "    >>> b.clean_price_from_yield(0.05)   # ~100 (par)\n"
    "    >>> b.yield_to_maturity(100.0)       # ~0.05\n"
    "    >>> b.modified_duration(0.05), b.convexity(0.05)",
    kMethods, std::size(kMethods), kGetters, 1, &bond_repr, &bond_equal,
};

}  // namespace

PyTypeObject* fixed_rate_bond_type() {
    static PyTypeObject* type = create_class(kClass);
    return type;
}

}  // namespace quelm::py

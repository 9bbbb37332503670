// Python class CreditCurve: survival, hazard and default density at dates, flat or
// bootstrapped from CDS quotes; and the quote converter's two functions.
#include "bindings/credit/credit.hpp"

#include "bindings/curves/instruments.hpp"
#include "bindings/dates/calendar.hpp"
#include "bindings/instances.hpp"
#include "bindings/string_options.hpp"
#include "frame/classes.hpp"
#include "frame/registry.hpp"
#include "frame/result.hpp"
#include "quelm/credit/bootstrap.hpp"
#include "quelm/credit/quote_convert.hpp"
#include "quelm/curves/instrument.hpp"

#include <memory>
#include <string>

namespace quelm::py {

constexpr Section kSection = Section::Credit;
constexpr std::string_view kGuide = "credit";

bool from_py(PyObject* o, QuoteList& out) {
    if (PyUnicode_Check(o) || !PySequence_Check(o)) {
        PyErr_Format(PyExc_TypeError, "expected a sequence of (maturity, spread) or (maturity, coupon, upfront), got %s",
                     Py_TYPE(o)->tp_name);
        return false;
    }
    Ref seq(PySequence_Fast(o, "expected a sequence"));
    if (!seq) return false;
    const Py_ssize_t n = PySequence_Fast_GET_SIZE(seq.get());
    out.items.clear();
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* item = PySequence_Fast_GET_ITEM(seq.get(), i);
        const Py_ssize_t k = PyTuple_Check(item) ? PyTuple_GET_SIZE(item) : -1;
        if (k != 2 && k != 3) {
            PyErr_Format(PyExc_TypeError, "quote %zd: expected (maturity, spread) or (maturity, coupon, upfront), got %s",
                         i, Py_TYPE(item)->tp_name);
            return false;
        }
        QuoteItem q;
        double second = 0.0;
        if (!from_py(PyTuple_GET_ITEM(item, 0), q.maturity) || !from_py(PyTuple_GET_ITEM(item, 1), q.first) ||
            (k == 3 && !from_py(PyTuple_GET_ITEM(item, 2), second))) {
            // Name the quote in the message the item's conversion raised.
            PyObject *type = nullptr, *value = nullptr, *tb = nullptr;
            PyErr_Fetch(&type, &value, &tb);
            PyObject* text = value ? PyObject_Str(value) : nullptr;
            const char* msg = text ? PyUnicode_AsUTF8(text) : nullptr;
            PyErr_Format(type ? type : PyExc_TypeError, "quote %zd: %s", i, msg ? msg : "bad item");
            Py_XDECREF(text);
            Py_XDECREF(type);
            Py_XDECREF(value);
            Py_XDECREF(tb);
            return false;
        }
        if (k == 3) q.upfront = second;
        out.items.push_back(q);
    }
    return true;
}

namespace {

using credit::CreditCurve;

Result<CreditCurve> bootstrap_of(Date trade_date, const QuoteList& quotes, const CurveRef& discount, double recovery,
                                 const CalendarArg& calendar, bool half_day, Cancel& cancel) {
    credit::CurveQuotes spec;
    spec.trade_date = trade_date.serial;
    spec.recovery = recovery;
    spec.discount = std::make_shared<const curves::YieldCurve>(*discount.curve);
    for (const QuoteItem& q : quotes.items) {
        const bool upfront = q.upfront.has_value();
        // A spread quote's contract pays the spread; its coupon is set as it is priced.
        QUELM_TRY(cds, cds_of(q.maturity, upfront ? q.first : 0.0, trade_date.serial, 1.0, recovery,
                              credit::Side::Buy, calendar.calendar, half_day));
        const auto* tenor = std::get_if<dates::Tenor>(&q.maturity.value);
        spec.quotes.push_back({std::move(cds), upfront ? credit::QuoteKind::Upfront : credit::QuoteKind::Spread,
                               upfront ? *q.upfront : q.first,
                               tenor ? std::optional<dates::Tenor>(*tenor) : std::nullopt});
    }
    return credit::bootstrap_credit(std::move(spec), cancel);
}

Result<CreditCurve> flat_of(Date trade_date, double hazard) { return CreditCurve::flat(trade_date.serial, hazard); }

Result<CreditCurve> from_hazards_of(Date trade_date, const std::vector<Date>& dates_, std::span<const double> hazards) {
    std::vector<dates::Serial> nodes;
    for (const Date& d : dates_) nodes.push_back(d.serial);
    return CreditCurve::from_hazards(trade_date.serial, nodes, hazards);
}

Result<double> survival_of(const CreditCurve& c, Date d) { return c.survival(d.serial); }
Result<double> hazard_of(const CreditCurve& c, Date d) { return c.hazard(d.serial); }
Result<double> density_of(const CreditCurve& c, Date d) { return c.default_density(d.serial); }

constexpr FunctionDef def_bootstrap = typed<&bootstrap_of>(
    "bootstrap",
    {"trade_date", "cds_quotes", "discount_curve", "*", {"recovery", "0.4"}, {"calendar", "\"weekends\""},
     {"half_day", "False"}},
    "The credit curve that reprices each quote on `discount_curve` (a dated YieldCurve; the\n"
    "ISDA curve is `YieldCurve.bootstrap(..., interp=\"flat-forward\")` on deposits and\n"
    "swaps): one hazard rate per quote, constant on the interval that ends at its maturity\n"
    "(survival log-linear between maturities), solved in maturity order. `cds_quotes`:\n"
    "tuples `(maturity, spread)`, a par spread (the coupon at which the contract's clean\n"
    "upfront is zero), or `(maturity, coupon, upfront)`, the clean upfront per unit notional\n"
    "paid by the buyer of a contract paying `coupon` (distressed names, hazard rates above 1,\n"
    "are quoted so); `maturity` a date or a tenor (\"5Y\": the standard maturity). The\n"
    "contracts are standard (see Cds) on `calendar`, valued with `recovery`.\n\n" 
    "    >>> import quelm\n"
    "    >>> disc = quelm.YieldCurve.flat(0.03, reference_date=\"2024-05-21\")\n"
    "    >>> curve = quelm.CreditCurve.bootstrap(\"2024-05-21\", [(\"1Y\", 0.008), (\"5Y\", 0.05, 0.3)], disc)\n"
    "    >>> [round(h, 4) for h in curve.hazards]\n"
    "    [0.0135, 0.3992]");
constexpr FunctionDef def_flat = typed<&flat_of>(
    "flat", {"trade_date", "hazard"},
    "A flat hazard rate from `trade_date`: survival exp(-hazard × t), t in act/365f years.\n\n"
    "    >>> import quelm\n"
    "    >>> round(quelm.CreditCurve.flat(\"2024-05-21\", 0.02).survival(\"2025-05-21\"), 6)\n"
    "    0.980199");
constexpr FunctionDef def_from_hazards = typed<&from_hazards_of>(
    "from_hazards", {"trade_date", "dates", "hazards"},
    "Piecewise-constant hazard rates: `hazards[i]` from `dates[i-1]` (the first from\n"
    "`trade_date`) to `dates[i]`, the last continued beyond; dates increasing, hazards >= 0.\n\n"
    "    >>> import quelm\n"
    "    >>> c = quelm.CreditCurve.from_hazards(\"2024-05-21\", [\"2025-06-20\", \"2029-06-20\"], [0.01, 0.03])\n"
    "    >>> c.hazard(\"2026-01-01\")\n"
    "    0.03");
constexpr FunctionDef def_survival = typed_method<&survival_of>(
    "survival", {"date"},
    "The survival probability to the date (on or after the trade date).\n\n" 
    "    >>> import quelm\n"
    "    >>> round(quelm.CreditCurve.flat(\"2024-05-21\", 0.02).survival(\"2029-05-21\"), 6)\n"
    "    0.904788");
constexpr FunctionDef def_hazard = typed_method<&hazard_of>(
    "hazard", {"date"},
    "The forward hazard rate at the date: that of the interval ending on or after it.\n\n"
    "    >>> import quelm\n"
    "    >>> quelm.CreditCurve.flat(\"2024-05-21\", 0.02).hazard(\"2029-05-21\")\n"
    "    0.02");
constexpr FunctionDef def_density = typed_method<&density_of>(
    "default_density", {"date"},
    "The default density at the date, -dQ/dt: hazard times survival.\n\n"
    "    >>> import quelm\n"
    "    >>> round(quelm.CreditCurve.flat(\"2024-05-21\", 0.02).default_density(\"2025-05-21\"), 6)\n"
    "    0.019604");

PyObject* trade_date_get(PyObject* self) { return to_py_date(value_of<CreditCurve>(self).trade_date()); }
PyObject* nodes_get(PyObject* self) {
    const auto n = value_of<CreditCurve>(self).nodes();
    return to_py_dates(std::vector<dates::Serial>(n.begin(), n.end()));
}
PyObject* hazards_get(PyObject* self) { return to_py(value_of<CreditCurve>(self).hazards()); }
PyObject* recovery_get(PyObject* self) {
    const auto& q = value_of<CreditCurve>(self).quotes();
    if (!q) Py_RETURN_NONE;
    return to_py(q->recovery);
}

PyObject* curve_repr(PyObject* self) {
    const CreditCurve& c = value_of<CreditCurve>(self);
    std::string s = "CreditCurve(trade_date='" + dates::format_iso(c.trade_date()) + "', nodes=" +
                    std::to_string(c.nodes().size()) + (c.quotes() ? ", bootstrapped)" : ")");
    return to_py(s);
}
bool curve_equal(PyObject* a, PyObject* b) { return value_of<CreditCurve>(a) == value_of<CreditCurve>(b); }

// A bootstrapped curve: (functools.partial(CreditCurve.bootstrap, recovery=, calendar=,
// half_day=), (trade_date, quotes as given, discount curve)), which bootstraps again to the
// same bits; any other: (CreditCurve.from_hazards, (trade_date, nodes, hazards)).
PyObject* curve_reduce(const CreditCurve& c) {
    PyObject* type = reinterpret_cast<PyObject*>(credit_curve_type());
    Ref day(to_py_date(c.trade_date()));
    if (!day) return nullptr;
    const auto& spec = c.quotes();
    if (!spec) {
        Ref method(PyObject_GetAttrString(type, "from_hazards"));
        const auto n = c.nodes();
        Ref nodes(to_py_dates(std::vector<dates::Serial>(n.begin(), n.end())));
        Ref hazards(to_py(c.hazards()));
        if (!method || !nodes || !hazards) return nullptr;
        Ref args(PyTuple_Pack(3, day.get(), nodes.get(), hazards.get()));
        return args ? PyTuple_Pack(2, method.get(), args.get()) : nullptr;
    }
    const credit::CdsTerms& first = spec->quotes.front().cds.terms;
    Ref method(PyObject_GetAttrString(type, "bootstrap"));
    Ref kwargs(PyDict_New());
    if (!method || !kwargs) return nullptr;
    const auto put = [&](const char* key, PyObject* value) {
        Ref v(value);
        return v && PyDict_SetItemString(kwargs.get(), key, v.get()) == 0;
    };
    if (!put("recovery", to_py(spec->recovery)) || !put("calendar", wrap_calendar(first.calendar)) ||
        !put("half_day", PyBool_FromLong(first.half_day)))
        return nullptr;
    Ref quotes(make_list(spec->quotes.size(), [&](std::size_t i) -> PyObject* {
        const credit::CdsQuote& q = spec->quotes[i];
        Ref maturity(q.tenor ? to_py(std::string_view(curves::tenor_text(*q.tenor))) : to_py_date(q.cds.terms.maturity));
        Ref value(to_py(q.value));
        if (!maturity || !value) return nullptr;
        if (q.kind == credit::QuoteKind::Spread) return PyTuple_Pack(2, maturity.get(), value.get());
        Ref coupon(to_py(q.cds.terms.coupon));
        return coupon ? PyTuple_Pack(3, maturity.get(), coupon.get(), value.get()) : nullptr;
    }));
    Ref discount(wrap(yield_curve_type(), *spec->discount));
    if (!quotes || !discount) return nullptr;
    Ref args(PyTuple_Pack(3, day.get(), quotes.get(), discount.get()));
    if (!args) return nullptr;
    return partial_reduce(method.get(), args.get(), kwargs.get());
}

constexpr FunctionDef def_curve_reduce =
    method<curve_reduce>("__reduce__", {}, "Pickle support: a bootstrapped curve bootstraps again from its quotes.")
        .returning("Tuple[Any, ...]");

constexpr Callable kMethods[] = {
    callable<def_bootstrap>, callable<def_flat>, callable<def_from_hazards>,
    callable<def_survival>, callable<def_hazard>, callable<def_density>, callable<def_curve_reduce>,
};

const GetterDef kGetters[] = {
    {"trade_date", "The curve's t = 0.", &trade_date_get, "datetime.date"},
    {"nodes", "The node dates: the quotes' maturities, in order.", &nodes_get, "list[datetime.date]"},
    {"hazards", "The hazard rate of each interval ending at a node.", &hazards_get, "list[float]"},
    {"recovery", "The recovery a bootstrapped curve was built with (None otherwise).", &recovery_get,
     "float | None"},
};

const ClassDef kClass = {
    "CreditCurve",
    "A credit curve on the ISDA standard model: piecewise-constant forward hazard rates,\n"
    "survival log-linear between node dates, times in act/365f years from the trade date.\n"
    "Build with `bootstrap` (CDS quotes), `flat` or `from_hazards`; query at dates.\n\n" 
    "    >>> import quelm\n"
    "    >>> disc = quelm.YieldCurve.flat(0.03, reference_date=\"2024-05-21\")\n"
    "    >>> curve = quelm.CreditCurve.bootstrap(\"2024-05-21\", [(\"1Y\", 0.008), (\"5Y\", 0.012)], disc)\n"
    "    >>> round(curve.survival(\"2029-06-20\"), 6)\n"
    "    0.901501",
    kMethods, std::size(kMethods), kGetters, std::size(kGetters), &curve_repr, &curve_equal,
};

// --- the quote converter ---

Result<double> upfront_from_spread_of(Date trade_date, const MaturityArg& maturity, double spread, double coupon,
                                      const CurveRef& discount, double recovery, double notional, credit::Side side,
                                      const CalendarArg& calendar, bool clean, bool points, bool half_day) {
    QUELM_TRY(cds, cds_of(maturity, coupon, trade_date.serial, notional, recovery, side, calendar.calendar, half_day));
    return credit::upfront_from_spread(cds, spread, *discount.curve, clean, points);
}

Result<double> spread_from_upfront_of(Date trade_date, const MaturityArg& maturity, double upfront, double coupon,
                                      const CurveRef& discount, double recovery, const CalendarArg& calendar,
                                      bool half_day) {
    QUELM_TRY(cds, cds_of(maturity, coupon, trade_date.serial, 1.0, recovery, credit::Side::Buy, calendar.calendar,
                          half_day));
    return credit::spread_from_upfront(cds, upfront, *discount.curve);
}

}  // namespace

constexpr FunctionDef def_upfront_from_spread = typed<&upfront_from_spread_of>(
    "cds_upfront_from_spread",
    {"trade_date", "maturity", "spread", "coupon", "discount_curve", "*", {"recovery", "0.4"}, {"notional", "1.0"},
     {"side", "\"buy\""}, {"calendar", "\"weekends\""}, {"clean", "True"}, {"points", "False"}, {"half_day", "False"}},
    "The upfront of the standard contract paying `coupon` to `maturity` (a date or a tenor)\n"
    "quoted at the par `spread`, as the market's converter takes it: the flat hazard rate at\n"
    "which `spread` is the par spread, then the contract's upfront on it (Cds.upfront: paid by\n"
    "`side`, clean or dirty, in currency or with `points` per 100 of notional).\n\n"
    "    >>> import quelm\n"
    "    >>> disc = quelm.YieldCurve.flat(0.03, reference_date=\"2024-05-21\")\n"
    "    >>> round(quelm.cds_upfront_from_spread(\"2024-05-21\", \"5Y\", 0.03, 0.01, disc, points=True), 4)\n"
    "    8.4309");
QUELM_PUBLIC(def_upfront_from_spread);

constexpr FunctionDef def_spread_from_upfront = typed<&spread_from_upfront_of>(
    "cds_spread_from_upfront",
    {"trade_date", "maturity", "upfront", "coupon", "discount_curve", "*", {"recovery", "0.4"},
     {"calendar", "\"weekends\""}, {"half_day", "False"}},
    "The par spread equivalent to a clean `upfront` (per unit notional, paid by the buyer)\n"
    "on the standard contract paying `coupon` to `maturity`: the par spread of the flat\n"
    "hazard rate that prices the upfront. The inverse of cds_upfront_from_spread.\n\n"
    "    >>> import quelm\n"
    "    >>> disc = quelm.YieldCurve.flat(0.03, reference_date=\"2024-05-21\")\n"
    "    >>> round(quelm.cds_spread_from_upfront(\"2024-05-21\", \"5Y\", 0.084309, 0.01, disc), 4)\n"
    "    0.03");
QUELM_PUBLIC(def_spread_from_upfront);

PyTypeObject* credit_curve_type() {
    static PyTypeObject* type = create_class(kClass);
    return type;
}

QUELM_PUBLIC_CLASS(credit_curve_type);

}  // namespace quelm::py

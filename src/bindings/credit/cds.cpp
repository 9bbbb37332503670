// Python class Cds: a credit default swap on the standard terms, priced on a credit curve
// and a discount curve.
#include "bindings/credit/credit.hpp"

#include "bindings/curves/instruments.hpp"
#include "bindings/dates/calendar.hpp"
#include "bindings/dates/date_or_tenor.hpp"
#include "bindings/string_options.hpp"
#include "frame/classes.hpp"
#include "frame/registry.hpp"
#include "frame/result.hpp"
#include "quelm/core/text.hpp"
#include "quelm/credit/cds_value.hpp"
#include "quelm/credit/risk.hpp"
#include "quelm/credit/roll.hpp"

#include <cmath>
#include <string>

namespace quelm::py {

constexpr Section kSection = Section::Credit;
constexpr std::string_view kGuide = "credit";

namespace {

constinit const auto kRisk = record<credit::CdsRisk>({
    QUELM_FIELD(credit::CdsRisk, npv),
    QUELM_FIELD(credit::CdsRisk, cs01),
    QUELM_FIELD(credit::CdsRisk, ir01),
    QUELM_FIELD(credit::CdsRisk, recovery01),
    QUELM_FIELD(credit::CdsRisk, jump_to_default),
});

}  // namespace

QUELM_RECORD(credit::CdsRisk, kRisk, "CdsRisk");

bool from_py(PyObject* o, MaturityArg& out) { return date_or_tenor(o, out.value, "maturity", "tenor", "5Y"); }

bool from_py(PyObject* o, CreditCurveRef& out) {
    if (Py_TYPE(o) != credit_curve_type()) {
        PyErr_Format(PyExc_TypeError, "expected quelm.CreditCurve, got %s", Py_TYPE(o)->tp_name);
        return false;
    }
    out.curve = &value_of<credit::CreditCurve>(o);
    return true;
}

Result<credit::Cds> cds_of(const MaturityArg& maturity, double coupon, dates::Serial trade_date, double notional,
                           double recovery, credit::Side side, const dates::Calendar& calendar, bool half_day) {
    credit::CdsTerms t;
    t.trade_date = trade_date;
    if (const auto* tenor = std::get_if<dates::Tenor>(&maturity.value)) {
        QUELM_TRY(m, credit::standard_maturity(trade_date, *tenor));
        t.maturity = m;
    } else {
        t.maturity = std::get<dates::Serial>(maturity.value);
    }
    t.coupon = coupon;
    t.notional = notional;
    t.recovery = recovery;
    t.side = side;
    t.calendar = calendar;
    t.half_day = half_day;
    return credit::make_cds(t);
}

namespace {

using credit::Cds;

Result<std::string> curve_name(const std::optional<std::string>& name, const char* keyword) {
    if (!name) return std::string();
    if (name->empty()) return invalid(std::string("cds: ") + keyword + " must name a curve of the market, not be empty");
    return *name;
}

Result<Cds> cds_new(const MaturityArg& maturity, double coupon, Date trade_date, double notional, double recovery,
                    credit::Side side, const CalendarArg& calendar, bool half_day,
                    const std::optional<std::string>& credit_curve, const std::optional<std::string>& discount_curve) {
    QUELM_TRY(credit_name, curve_name(credit_curve, "credit_curve"));
    QUELM_TRY(discount_name, curve_name(discount_curve, "discount_curve"));
    QUELM_TRY(c, cds_of(maturity, coupon, trade_date.serial, notional, recovery, side, calendar.calendar, half_day));
    c.terms.credit_curve = std::move(credit_name);
    c.terms.discount_curve = std::move(discount_name);
    return c;
}

Result<double> npv_of(const Cds& c, const CreditCurveRef& credit, const CurveRef& discount) {
    return credit::cds_npv(c, *credit.curve, *discount.curve);
}
Result<double> par_spread_of(const Cds& c, const CreditCurveRef& credit, const CurveRef& discount) {
    return credit::cds_par_spread(c, *credit.curve, *discount.curve);
}
Result<double> upfront_of(const Cds& c, const CreditCurveRef& credit, const CurveRef& discount, bool clean,
                          bool points) {
    return credit::cds_upfront(c, *credit.curve, *discount.curve, clean, points);
}
Result<double> rpv01_of(const Cds& c, const CreditCurveRef& credit, const CurveRef& discount) {
    return credit::cds_rpv01(c, *credit.curve, *discount.curve);
}
Result<credit::CdsRisk> risk_of(const Cds& c, const CreditCurveRef& credit, Cancel& cancel) {
    return credit::cds_risk(c, *credit.curve, cancel);
}

constexpr FunctionDef def_npv = typed_method<&npv_of>(
    "npv", {"credit_curve", "discount_curve"},
    "The value at the trade date to the side held, in currency: the protection (loss\n"
    "1 - recovery on default up to the maturity) less the coupons, the first in full, and\n"
    "the coupon accrued at default, on the ISDA standard model. Negative for the seller of\n"
    "the same value bought.\n\n"
    "    >>> import quelm\n"
    "    >>> disc = quelm.YieldCurve.flat(0.03, reference_date=\"2024-05-21\")\n"
    "    >>> credit = quelm.CreditCurve.flat(\"2024-05-21\", 0.02)\n"
    "    >>> cds = quelm.Cds(\"5Y\", 0.01, trade_date=\"2024-05-21\", notional=1e7)\n"
    "    >>> round(cds.npv(credit, disc), 2)\n"
    "    67827.53");
constexpr FunctionDef def_par_spread = typed_method<&par_spread_of>(
    "par_spread", {"credit_curve", "discount_curve"},
    "The coupon at which the contract's clean upfront is zero (a decimal a year).\n\n"
    "    >>> import quelm\n"
    "    >>> disc = quelm.YieldCurve.flat(0.03, reference_date=\"2024-05-21\")\n"
    "    >>> credit = quelm.CreditCurve.flat(\"2024-05-21\", 0.02)\n"
    "    >>> round(quelm.Cds(\"5Y\", 0.01, trade_date=\"2024-05-21\").par_spread(credit, disc), 6)\n"
    "    0.011882");
constexpr FunctionDef def_upfront = typed_method<&upfront_of>(
    "upfront", {"credit_curve", "discount_curve", "*", {"clean", "True"}, {"points", "False"}},
    "The upfront the side held pays at cash settlement (trade date + 3 business days):\n"
    "clean (the quoted figure) or dirty (the cash, net of the accrued coupon the seller\n"
    "rebates); in currency, or with `points` per 100 of notional. Clean upfront =\n"
    "(par_spread - coupon) × rpv01 × notional.\n\n"
    "    >>> import quelm\n"
    "    >>> disc = quelm.YieldCurve.flat(0.03, reference_date=\"2024-05-21\")\n"
    "    >>> credit = quelm.CreditCurve.flat(\"2024-05-21\", 0.02)\n"
    "    >>> cds = quelm.Cds(\"5Y\", 0.01, trade_date=\"2024-05-21\")\n"
    "    >>> round(cds.upfront(credit, disc, points=True), 4)\n"
    "    0.8534");
constexpr FunctionDef def_rpv01 = typed_method<&rpv01_of>(
    "rpv01", {"credit_curve", "discount_curve"},
    "The clean risky annuity at cash settlement, per unit notional and of coupon: the\n"
    "value of the coupons (and their accrual on default) less the accrued rebated.\n\n"
    "    >>> import quelm\n"
    "    >>> disc = quelm.YieldCurve.flat(0.03, reference_date=\"2024-05-21\")\n"
    "    >>> credit = quelm.CreditCurve.flat(\"2024-05-21\", 0.02)\n"
    "    >>> round(quelm.Cds(\"5Y\", 0.01, trade_date=\"2024-05-21\").rpv01(credit, disc), 4)\n"
    "    4.5359");
constexpr FunctionDef def_risk = typed_method<&risk_of>(
    "risk", {"credit_curve"},
    "The risk of the contract on a bootstrapped credit curve (CreditCurve.bootstrap), by\n"
    "rebuilding the curves on shifted inputs and repricing (bump and rebuild), in currency\n"
    "to the side held: `npv`; `cs01`, per +1bp of each credit quote in maturity order (a\n"
    "spread up 0.0001, an upfront up 0.0001 of notional); `ir01`, per +1bp of each rate quote\n"
    "of the discount curve (the credit curve rebuilt on it; empty when that curve was not\n"
    "bootstrapped); `recovery01`, per +0.01 of recovery (the contract's and the curve's);\n"
    "`jump_to_default`, the change on default now: the loss 1 - recovery paid, less the\n"
    "accrued coupon, less the value lost.\n\n"
    "    >>> import quelm\n"
    "    >>> disc = quelm.YieldCurve.flat(0.03, reference_date=\"2024-05-21\")\n"
    "    >>> curve = quelm.CreditCurve.bootstrap(\"2024-05-21\", [(\"3Y\", 0.01), (\"5Y\", 0.012)], disc)\n"
    "    >>> r = quelm.Cds(\"5Y\", 0.01, trade_date=\"2024-05-21\", notional=1e7).risk(curve)\n"
    "    >>> [round(x) for x in r[\"cs01\"]]\n"
    "    [-22, 4539]");

// --- attributes, repr, equality, pickling ---

PyObject* side_py(credit::Side s) { return to_py(credit::kSides.aliases[static_cast<std::size_t>(s)].name); }
PyObject* date_py(dates::Serial s) { return to_py_date(s); }
PyObject* bool_py(bool b) { return PyBool_FromLong(b ? 1 : 0); }
// A curve name, or None for the market's only one.
PyObject* name_py(const std::string& name) {
    if (name.empty()) Py_RETURN_NONE;
    return to_py(std::string_view(name));
}
PyObject* payment_dates_get(PyObject* self) {
    std::vector<dates::Serial> d;
    for (const auto& p : value_of<Cds>(self).periods) d.push_back(p.payment);
    return to_py_dates(d);
}
double accrued_of(const Cds& c) { return credit::cds_accrued(c); }

std::string number_text(double v) {
    PyObject* r = PyFloat_FromDouble(v);
    PyObject* s = r ? PyObject_Repr(r) : nullptr;
    std::string out = s ? PyUnicode_AsUTF8(s) : "";
    Py_XDECREF(s);
    Py_XDECREF(r);
    return out;
}

// Python's repr of a str: 'acme'.
std::string text_repr(const std::string& text) {
    Ref r(to_py(std::string_view(text)));
    Ref s(r ? PyObject_Repr(r.get()) : nullptr);
    const char* out = s ? PyUnicode_AsUTF8(s.get()) : nullptr;
    if (out == nullptr) PyErr_Clear();
    return out ? out : "'" + text + "'";
}

std::string describe(const Cds& c) {
    const auto& t = c.terms;
    std::string s = "Cds('" + dates::format_iso(t.maturity) + "', " + number_text(t.coupon) + ", trade_date='" +
                    dates::format_iso(t.trade_date) + "'";
    if (t.notional != 1.0) s += ", notional=" + number_text(t.notional);
    if (t.recovery != 0.4) s += ", recovery=" + number_text(t.recovery);
    if (t.side != credit::Side::Buy) s += ", side='sell'";
    if (!(t.calendar == dates::Calendar{}))
        s += ", calendar=" + quote_literal(t.calendar.name());
    if (t.half_day) s += ", half_day=True";
    if (!t.credit_curve.empty()) s += ", credit_curve=" + text_repr(t.credit_curve);
    if (!t.discount_curve.empty()) s += ", discount_curve=" + text_repr(t.discount_curve);
    return s + ")";
}

PyObject* cds_repr(PyObject* self) { return to_py(describe(value_of<Cds>(self))); }
bool cds_equal(PyObject* a, PyObject* b) { return value_of<Cds>(a) == value_of<Cds>(b); }

PyObject* cds_reduce(const Cds& c) {
    const auto& t = c.terms;
    Ref functools(PyImport_ImportModule("functools"));
    if (!functools) return nullptr;
    Ref partial(PyObject_GetAttrString(functools.get(), "partial"));
    Ref kwargs(PyDict_New());
    if (!partial || !kwargs) return nullptr;
    const auto put = [&](const char* key, PyObject* value) {
        Ref v(value);
        return v && PyDict_SetItemString(kwargs.get(), key, v.get()) == 0;
    };
    if (!put("trade_date", to_py_date(t.trade_date)) || !put("notional", to_py(t.notional)) ||
        !put("recovery", to_py(t.recovery)) || !put("side", side_py(t.side)) ||
        !put("calendar", wrap_calendar(t.calendar)) || !put("half_day", PyBool_FromLong(t.half_day)) ||
        !put("credit_curve", name_py(t.credit_curve)) || !put("discount_curve", name_py(t.discount_curve)))
        return nullptr;
    Ref head(PyTuple_Pack(1, reinterpret_cast<PyObject*>(cds_type())));
    if (!head) return nullptr;
    Ref fn(PyObject_Call(partial.get(), head.get(), kwargs.get()));
    Ref maturity(to_py_date(t.maturity));
    Ref coupon(to_py(t.coupon));
    if (!fn || !maturity || !coupon) return nullptr;
    Ref args(PyTuple_Pack(2, maturity.get(), coupon.get()));
    return args ? PyTuple_Pack(2, fn.get(), args.get()) : nullptr;
}

constexpr FunctionDef def_reduce =
    method<cds_reduce>("__reduce__", {}, "Pickle support: rebuild through the constructor.").returning("Tuple[Any, ...]");

constexpr FunctionDef def_new = typed<&cds_new>(
    "Cds",
    {"maturity", "coupon", "*", "trade_date", {"notional", "1.0"}, {"recovery", "0.4"}, {"side", "\"buy\""},
     {"calendar", "\"weekends\""}, {"half_day", "False"}, {"credit_curve", "None"}, {"discount_curve", "None"}},
    "A credit default swap on the standard terms, traded on `trade_date`: `coupon` (a\n"
    "decimal a year, act/360, as 0.01 or 0.05) paid quarterly on the 20th of March, June,\n"
    "September and December (moved to the next business day of `calendar`), the first\n"
    "coupon in full from the roll date on or before the step-in date (trade date + 1 day),\n"
    "the last period counting the maturity day too; the coupon accrued at default paid on\n"
    "default; protection from the step-in date to `maturity`; the upfront paid in cash\n"
    "three business days after the trade date. `maturity`: a date, or a tenor (\"5Y\",\n"
    "\"6M\") for the standard maturity: the roll date on or before the trade date, plus\n"
    "the tenor, plus three months (from 21 December 2015 the contracts roll twice a year,\n"
    "so a June or December roll date first steps back to March or September). `side`:\n"
    "\"buy\" (protection) or \"sell\". `recovery`: the recovery rate the contract's loss is\n"
    "valued with. `half_day`: count accrual on default from half a day before each period,\n"
    "as the published ISDA code (v1.8.2) does (its published figures need it); by default\n"
    "from the period's start. In a Book, `credit_curve` and `discount_curve` name the market's\n"
    "credit curve and yield curve it is priced on (None: the market's only one of each).\n\n"
    "    >>> import quelm\n"
    "    >>> quelm.Cds(\"5Y\", 0.01, trade_date=\"2024-05-21\").maturity\n"
    "    datetime.date(2029, 6, 20)");

constexpr Callable kNew = callable<def_new>;

constexpr Callable kMethods[] = {
    callable<def_npv>, callable<def_par_spread>, callable<def_upfront>, callable<def_rpv01>,
    callable<def_risk>, callable<def_reduce>,
};

const GetterDef kGetters[] = {
    attribute<path<&Cds::terms, &credit::CdsTerms::maturity>, date_py>("maturity", "The maturity date.",
                                                                        "datetime.date"),
    attribute<path<&Cds::terms, &credit::CdsTerms::coupon>>("coupon", "The running coupon, a decimal a year.",
                                                            "float"),
    attribute<path<&Cds::terms, &credit::CdsTerms::trade_date>, date_py>("trade_date", "The trade date.",
                                                                          "datetime.date"),
    attribute<path<&Cds::terms, &credit::CdsTerms::notional>>("notional", "The notional.", "float"),
    attribute<path<&Cds::terms, &credit::CdsTerms::recovery>>("recovery", "The recovery rate.", "float"),
    attribute<path<&Cds::terms, &credit::CdsTerms::side>, side_py>("side", "\"buy\" or \"sell\" (protection).",
                                                                    "str"),
    attribute<path<&Cds::terms, &credit::CdsTerms::calendar>, wrap_calendar>(
        "calendar", "The calendar of the payment dates and the cash settlement.", "Calendar"),
    attribute<path<&Cds::terms, &credit::CdsTerms::half_day>, bool_py>(
        "half_day", "Whether accrual on default counts from half a day early (the published code).", "bool"),
    attribute<path<&Cds::terms, &credit::CdsTerms::credit_curve>, name_py>(
        "credit_curve", "The market credit curve a Book prices it on (None: the market's only one).", "str | None"),
    attribute<path<&Cds::terms, &credit::CdsTerms::discount_curve>, name_py>(
        "discount_curve", "The market yield curve a Book discounts it on (None: the market's only one).",
        "str | None"),
    attribute<&Cds::step_in, date_py>("step_in", "The step-in date: trade date + 1 day.", "datetime.date"),
    attribute<&Cds::cash_settlement, date_py>("cash_settlement", "Trade date + 3 business days.", "datetime.date"),
    attribute<&Cds::accrual_start, date_py>("accrual_start", "The start of the first coupon period.",
                                             "datetime.date"),
    {"payment_dates", "The coupon payment dates.", &payment_dates_get, "list[datetime.date]"},
    attribute<accrued_of>("accrued",
                          "The coupon accrued at step-in, in currency to the side held (the buyer\n"
                          "receives it from the seller at settlement).",
                          "float"),
};

const ClassDef kClass = {
    "Cds",
    "A credit default swap on the standard (ISDA) terms. Immutable; compares equal to the\n"
    "same contract, pickles. Priced on a CreditCurve and a dated YieldCurve.",
    kMethods, std::size(kMethods), kGetters, std::size(kGetters), &cds_repr, &cds_equal, nullptr, &kNew,
};

}  // namespace

PyTypeObject* cds_type() {
    static PyTypeObject* type = create_class(kClass);
    return type;
}

QUELM_PUBLIC_CLASS(cds_type);

}  // namespace quelm::py

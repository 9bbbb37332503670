// Python class CapFloor: a cap or floor on a term index, priced on curves with a vol in the
// Black, shifted Black or Bachelier quoting.
#include "bindings/rates/rate_args.hpp"

#include "bindings/dates/calendar.hpp"
#include "bindings/string_options.hpp"
#include "frame/classes.hpp"
#include "frame/registry.hpp"
#include "frame/result.hpp"
#include "quelm/dates/serial.hpp"
#include "quelm/rates/cap_floor.hpp"

#include <string>

namespace quelm::py {

constexpr Section kSection = Section::FixedIncome;
constexpr std::string_view kGuide = "rate-options";

bool from_py(PyObject* o, VolArg& out) {
    out.term = {};
    if (PyTuple_Check(o) && PyTuple_GET_SIZE(o) == 2) {
        FloatSeq times, vols;
        if (!from_py(PyTuple_GET_ITEM(o, 0), times) || !from_py(PyTuple_GET_ITEM(o, 1), vols)) return false;
        out.term.times = times.to_vector();
        out.term.vols = vols.to_vector();
        return true;
    }
    double v = 0.0;
    if (!from_py(o, v)) {
        PyErr_Clear();
        PyErr_Format(PyExc_TypeError, "expected a vol (a number) or a pair (times, vols), got %s", Py_TYPE(o)->tp_name);
        return false;
    }
    out.term.vols = {v};
    return true;
}

Status book_names(const std::optional<std::string_view>& curve, const std::optional<std::string_view>& discount_curve,
                  const std::optional<std::string_view>& vol, std::string& curve_out, std::string& discount_out,
                  std::string& vol_out) {
    QUELM_TRY(c, curve_name(curve));
    QUELM_TRY(d, curve_name(discount_curve));
    if (vol && vol->empty()) return bad_argument("rate vol names must not be empty");
    curve_out = std::move(c);
    discount_out = std::move(d);
    vol_out = vol ? std::string(*vol) : std::string();
    return {};
}

template <>
struct ToPy<std::vector<rates::Caplet>> {
    static PyObject* convert(const std::vector<rates::Caplet>& ks);
};
template <>
struct Annotation<std::vector<rates::Caplet>> {
    static const char* result() { return "list[Caplet]"; }
};

namespace {

using rates::Caplet;
using rates::CapFloor;

constinit const auto kCaplet = record<Caplet>({
    {"fixing", [](const Caplet& k) { return to_py_date(k.fixing); }, [] { return "datetime.date"; }},
    {"start", [](const Caplet& k) { return to_py_date(k.start); }, [] { return "datetime.date"; }},
    {"end", [](const Caplet& k) { return to_py_date(k.end); }, [] { return "datetime.date"; }},
    {"payment", [](const Caplet& k) { return to_py_date(k.payment); }, [] { return "datetime.date"; }},
    QUELM_FIELD(Caplet, accrual), QUELM_FIELD(Caplet, t), QUELM_FIELD(Caplet, forward),
    QUELM_FIELD(Caplet, discount), QUELM_FIELD(Caplet, vol), QUELM_FIELD(Caplet, price),
    {"fixed", [](const Caplet& k) { return PyBool_FromLong(k.fixed ? 1 : 0); }, [] { return "bool"; }},
});

}  // namespace

QUELM_RECORD(Caplet, kCaplet, "Caplet");

PyObject* ToPy<std::vector<rates::Caplet>>::convert(const std::vector<rates::Caplet>& ks) {
    return to_py(std::span<const rates::Caplet>(ks), kCaplet);
}

namespace {

Result<CapFloor> cap_new(rates::CapKind kind, const std::optional<std::string_view>& tenor, double strike,
                         std::string_view index_tenor, const std::optional<Date>& effective,
                         const std::optional<Date>& maturity, double notional, std::string_view day_count,
                         const CalendarArg& calendar, dates::Convention convention, std::uint64_t settlement_days,
                         std::uint64_t fixing_days, const std::optional<std::string_view>& curve,
                         const std::optional<std::string_view>& discount_curve,
                         const std::optional<std::string_view>& vol) {
    CapFloor c;
    c.kind = kind;
    const char* who = kind == rates::CapKind::Cap ? "cap" : "floor";
    if (tenor) {
        QUELM_TRY(t, dates::parse_tenor(*tenor));
        c.tenor = t;
    }
    if (maturity) c.maturity = maturity->serial;
    if (tenor && maturity) return bad_argument(std::string(who) + ": give a tenor or a maturity, not both");
    if (!tenor && !maturity) return bad_argument(std::string(who) + ": give a tenor or a maturity");
    c.strike = strike;
    QUELM_TRY(it, dates::parse_tenor(index_tenor));
    c.index_tenor = it;
    if (effective) c.effective = effective->serial;
    c.notional = notional;
    QUELM_TRY(dc, dates::parse_day_count(day_count));
    c.day_count = dc;
    c.calendar = calendar.calendar;
    c.convention = convention;
    if (settlement_days > 366) return invalid(std::string(who) + ": settlement_days must be at most 366");
    if (fixing_days > 366) return invalid(std::string(who) + ": fixing_days must be at most 366");
    c.settlement_days = static_cast<std::uint32_t>(settlement_days);
    c.fixing_days = static_cast<std::uint32_t>(fixing_days);
    QUELM_CHECK(book_names(curve, discount_curve, vol, c.curve, c.discount_curve, c.vol));
    QUELM_CHECK(rates::check(c));
    return c;
}

Result<double> cap_price_of(const CapFloor& c, const curves::YieldCurve& curve, const VolArg& vol,
                            rates::VolModel model, double shift, const std::optional<CurveRef>& discount_curve) {
    return rates::cap_price(c, curves_of(curve, discount_curve), vol.term, {model, shift});
}
Result<rates::PricedCap> cap_priced_on_of(const CapFloor& c, const curves::YieldCurve& curve,
                                          const std::optional<CurveRef>& discount_curve) {
    return rates::cap_priced_on(c, curves_of(curve, discount_curve));
}
Result<std::vector<Caplet>> cap_caplets_of(const CapFloor& c, const curves::YieldCurve& curve, const VolArg& vol,
                                           rates::VolModel model, double shift,
                                           const std::optional<CurveRef>& discount_curve) {
    return rates::caplets(c, curves_of(curve, discount_curve), vol.term, {model, shift});
}
Result<double> cap_vega_of(const CapFloor& c, const curves::YieldCurve& curve, const VolArg& vol,
                           rates::VolModel model, double shift, const std::optional<CurveRef>& discount_curve) {
    return rates::cap_vega(c, curves_of(curve, discount_curve), vol.term, {model, shift});
}
Result<double> cap_delta_of(const CapFloor& c, const curves::YieldCurve& curve, const VolArg& vol,
                            rates::VolModel model, double shift, const std::optional<CurveRef>& discount_curve) {
    return rates::cap_delta(c, curves_of(curve, discount_curve), vol.term, {model, shift});
}
Result<double> cap_implied_of(const CapFloor& c, double price, const curves::YieldCurve& curve,
                              rates::VolModel model, double shift, const std::optional<CurveRef>& discount_curve) {
    return rates::cap_implied_vol(c, price, curves_of(curve, discount_curve), {model, shift});
}
Result<double> cap_atm_of(const CapFloor& c, const curves::YieldCurve& curve,
                          const std::optional<CurveRef>& discount_curve) {
    return rates::cap_atm_strike(c, curves_of(curve, discount_curve));
}

PyObject* optional_date_py(const std::optional<dates::Serial>& d) {
    if (!d) Py_RETURN_NONE;
    return to_py_date(*d);
}
PyObject* optional_tenor_py(const std::optional<dates::Tenor>& t) {
    if (!t) Py_RETURN_NONE;
    return to_py(curves::tenor_text(*t));
}
PyObject* kind_py(rates::CapKind k) { return to_py(std::string_view(k == rates::CapKind::Cap ? "cap" : "floor")); }
PyObject* tenor_py(dates::Tenor t) { return to_py(curves::tenor_text(t)); }
PyObject* day_count_py(const dates::DayCount& dc) { return to_py(dates::day_count_name(dc)); }
PyObject* convention_py(dates::Convention c) {
    return to_py(dates::kConventions.aliases[static_cast<std::size_t>(c)].name);
}
PyObject* count_py(std::uint32_t v) { return to_py(static_cast<std::uint64_t>(v)); }

PyObject* cap_repr(PyObject* self) { return to_py(rates::describe(value_of<CapFloor>(self))); }
bool cap_equal(PyObject* a, PyObject* b) { return value_of<CapFloor>(a) == value_of<CapFloor>(b); }
Py_hash_t cap_hash(PyObject* self) {
    const auto h = PyObject_Hash(Ref(to_py(rates::describe(value_of<CapFloor>(self)))).get());
    return h == -1 ? -2 : h;
}

// (functools.partial(CapFloor, **keywords), (kind, tenor, strike)).
PyObject* cap_reduce(const CapFloor& c) {
    Ref kwargs(PyDict_New());
    if (!kwargs) return nullptr;
    const auto put = [&](const char* key, PyObject* value) {
        Ref v(value);
        return v && PyDict_SetItemString(kwargs.get(), key, v.get()) == 0;
    };
    if (!put("index_tenor", tenor_py(c.index_tenor)) || !put("effective", optional_date_py(c.effective)) ||
        !put("maturity", optional_date_py(c.maturity)) || !put("notional", to_py(c.notional)) ||
        !put("day_count", day_count_py(c.day_count)) || !put("calendar", wrap_calendar(c.calendar)) ||
        !put("convention", convention_py(c.convention)) || !put("settlement_days", count_py(c.settlement_days)) ||
        !put("fixing_days", count_py(c.fixing_days)) || !put_names(put, c.curve, c.discount_curve, c.vol))
        return nullptr;
    Ref args(Py_BuildValue("(NNd)", kind_py(c.kind), optional_tenor_py(c.tenor), c.strike));
    Ref functools(PyImport_ImportModule("functools"));
    if (!args || !functools) return nullptr;
    Ref partial(PyObject_GetAttrString(functools.get(), "partial"));
    if (!partial) return nullptr;
    Ref head(PyTuple_Pack(1, reinterpret_cast<PyObject*>(cap_floor_type())));
    if (!head) return nullptr;
    Ref fn(PyObject_Call(partial.get(), head.get(), kwargs.get()));
    if (!fn) return nullptr;
    return PyTuple_Pack(2, fn.get(), args.get());
}

constexpr ParamList kPricing{"curve", "vol", "*", {"model", "\"black\""}, {"shift", "0.0"}, {"discount_curve", "None"}};

constexpr FunctionDef def_cap_new = typed<&cap_new>(
    "CapFloor",
    {"kind", "tenor", "strike", "*", {"index_tenor", "\"6M\""}, {"effective", "None"}, {"maturity", "None"},
     {"notional", "1.0"}, {"day_count", "\"act/360\""}, {"calendar", "\"target\""},
     {"convention", "\"modified-following\""}, {"settlement_days", "2"}, {"fixing_days", "2"}, {"curve", "None"},
     {"discount_curve", "None"}, {"vol", "None"}},
    "A cap (`kind` \"cap\") or floor (\"floor\") on the index of `index_tenor`, struck at\n"
    "`strike` (a decimal): one caplet per period of the schedule from `effective` (None: spot,\n"
    "`settlement_days` business days after the curve's reference date) for `tenor` (\"5Y\"), or\n"
    "to `maturity` with `tenor` None, rolled back from the end by `convention` on `calendar`.\n"
    "Each caplet pays notional × accrual (on `day_count`) × max(±(forward - strike), 0) at its\n"
    "period's end and fixes `fixing_days` business days before its start; one fixed on or\n"
    "before the reference date is left out (a spot cap's first caplet).\n"
    "\n"
    "As a trade of a `Book`, `curve` and `discount_curve` name the market curves it is priced\n"
    "off (None: the market's only curve, and the curve it was built on) and `vol` the market\n"
    "rate vol, a `RateVol` (None: the market's only one, `Market(rate_vols=...)`).")
    .reading_options({"kind", "convention"});
constexpr FunctionDef def_cap_price = typed_method<&cap_price_of>(
    "price", kPricing,
    "The value at the curve's reference date. Forwards are `curve`'s period forwards, payments\n"
    "discount on `discount_curve` (by default the curve `curve` was bootstrapped on, else\n"
    "`curve`). `vol`: a number, or a term structure (times in years, vols) read linearly in\n"
    "total variance at each caplet's fixing time (act/365f). `model`: \"black\", \"shifted-black\"\n"
    "(rates moved by `shift`) or \"bachelier\" (a normal vol, in rate units).\n"
    "\n"
    "    >>> import quelm, datetime\n"
    "    >>> curve = quelm.YieldCurve.flat(0.03, reference_date=datetime.date(2026, 3, 2))\n"
    "    >>> round(quelm.CapFloor(\"cap\", \"5Y\", 0.03).price(curve, 0.2), 6)\n"
    "    0.014468");
constexpr FunctionDef def_cap_caplets = typed_method<&cap_caplets_of>(
    "caplets", kPricing,
    "Each period of the strip: its fixing, start, end and payment dates, accrual, vol time `t`,\n"
    "forward, discount factor, vol and price (0 for one `fixed` on or before the reference\n"
    "date, which the price leaves out).");
constexpr FunctionDef def_cap_implied = typed_method<&cap_implied_of>(
    "implied_vol", {"price", "curve", "*", {"model", "\"black\""}, {"shift", "0.0"}, {"discount_curve", "None"}},
    "The flat vol at which `price` reprices the strip: exact for a single caplet (the\n"
    "library's Black and Bachelier inversions), Newton on the strip otherwise.");
constexpr FunctionDef def_cap_atm = typed_method<&cap_atm_of>(
    "atm_strike", {"curve", "*", {"discount_curve", "None"}},
    "The strike at which cap and floor cost the same: the live caplets' forwards averaged\n"
    "on accrual × discount factor.");
constexpr FunctionDef def_cap_vega = typed_method<&cap_vega_of>(
    "vega", kPricing, "d price / d vol, every caplet's vol moved together, per unit of vol (as `greeks`).");
constexpr FunctionDef def_cap_delta = typed_method<&cap_delta_of>(
    "delta", kPricing,
    "d price / d forward, every caplet's forward moved together with discounting held, per\n"
    "unit of rate (as `greeks`).");
constexpr FunctionDef def_cap_reduce =
    method<cap_reduce>("__reduce__", {}, "Pickle support: rebuild through the constructor.")
        .returning("Tuple[Any, ...]");

constexpr FunctionDef def_cap_priced_on = typed_method<&cap_priced_on_of>(
    "priced_on", {"curve", "*", {"discount_curve", "None"}},
    "The cap with its caplets laid out on `curve` (and `discount_curve`, as for `price`)\n"
    "once: a `PricedCapFloor`, priced at any flat vol and strike with `price`'s bits, and over\n"
    "arrays by `quelm.vec.cap_price`.");

constexpr Callable kCapNew = callable<def_cap_new>;
constexpr Callable kCapMethods[] = {callable<def_cap_price>,  callable<def_cap_caplets>, callable<def_cap_implied>,
                                    callable<def_cap_atm>,    callable<def_cap_vega>,    callable<def_cap_delta>,
                                    callable<def_cap_priced_on>, callable<def_cap_reduce>};

const GetterDef kCapGetters[] = {
    attribute<&CapFloor::kind, kind_py>("kind", "\"cap\" or \"floor\".", "str"),
    attribute<&CapFloor::tenor, optional_tenor_py>("tenor", "The length from the start, or None.", "str | None"),
    attribute<&CapFloor::strike>("strike", "The strike, a decimal.", "float"),
    attribute<&CapFloor::index_tenor, tenor_py>("index_tenor", "The index tenor and the period.", "str"),
    attribute<&CapFloor::effective, optional_date_py>("effective", "The start, or None (spot).",
                                                      "datetime.date | None"),
    attribute<&CapFloor::maturity, optional_date_py>("maturity", "The end, or None (the tenor's).",
                                                     "datetime.date | None"),
    attribute<&CapFloor::notional>("notional", "The notional.", "float"),
    attribute<&CapFloor::day_count, day_count_py>("day_count", "The accrual day count.", "str"),
    attribute<&CapFloor::calendar, wrap_calendar>("calendar", "The calendar of the schedule.", "Calendar"),
    attribute<&CapFloor::convention, convention_py>("convention", "How dates roll onto business days.", "str"),
    attribute<&CapFloor::settlement_days, count_py>("settlement_days", "Business days from trade to spot.", "int"),
    attribute<&CapFloor::fixing_days, count_py>("fixing_days", "Business days from a fixing to its period.", "int"),
    attribute<&CapFloor::curve, text_py>("curve", "The market curve a book prices it off, or None.", "str | None"),
    attribute<&CapFloor::discount_curve, text_py>("discount_curve", "The market curve a book discounts it on, or None.",
                                                  "str | None"),
    attribute<&CapFloor::vol, text_py>("vol", "The market rate vol a book prices it on, or None.", "str | None"),
};

}  // namespace

PyTypeObject* cap_floor_type() {
    static const std::string doc =
        "Immutable; compares equal to the same cap on the same terms, hashes and pickles.\n\n"
        "    >>> import quelm\n    >>> quelm.CapFloor(\"cap\", \"5Y\", 0.03)\n"
        "    CapFloor('cap', '5Y', 0.03)";
    static const ClassDef def{"CapFloor",   doc.c_str(), kCapMethods, std::size(kCapMethods), kCapGetters,
                              std::size(kCapGetters), &cap_repr, &cap_equal, &cap_hash, &kCapNew};
    static PyTypeObject* type = create_class(def);
    return type;
}
QUELM_PUBLIC_CLASS(cap_floor_type);

}  // namespace quelm::py

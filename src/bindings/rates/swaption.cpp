// Python class Swaption: a European swaption priced on curves with a vol in the Black,
// shifted Black or Bachelier quoting, physically or cash settled.
#include "bindings/rates/rate_args.hpp"

#include "bindings/dates/calendar.hpp"
#include "bindings/string_options.hpp"
#include "frame/classes.hpp"
#include "frame/registry.hpp"
#include "frame/result.hpp"
#include "quelm/dates/serial.hpp"
#include "quelm/rates/swaption.hpp"

#include <string>

namespace quelm::py {

constexpr Section kSection = Section::FixedIncome;
constexpr std::string_view kGuide = "rate-options";

namespace {

using rates::Swaption;

// An expiry: a tenor after the reference date ("5Y") or a date.
struct ExpiryArg {
    EffectiveArg value;
};
bool from_py(PyObject* o, ExpiryArg& out) { return from_py(o, out.value); }

}  // namespace

template <>
struct Annotation<ExpiryArg> {
    static const char* param() { return "str | DateLike"; }
};

namespace {

Result<Swaption> swaption_new(const ExpiryArg& expiry, std::string_view tenor, double strike,
                              rates::SwaptionKind kind, rates::Settlement settlement, std::uint64_t fixed_frequency,
                              std::string_view fixed_day_count, std::string_view float_tenor, double notional,
                              const CalendarArg& calendar, std::uint64_t settlement_days,
                              const std::optional<std::string_view>& curve,
                              const std::optional<std::string_view>& discount_curve,
                              const std::optional<std::string_view>& vol) {
    Swaption s;
    if (const auto* t = std::get_if<dates::Tenor>(&expiry.value.value)) s.expiry = *t;
    else s.expiry = std::get<dates::Serial>(expiry.value.value);
    QUELM_TRY(t, dates::parse_tenor(tenor));
    s.tenor = t;
    s.strike = strike;
    s.kind = kind;
    s.settlement = settlement;
    if (fixed_frequency > 12) return invalid("swaption: fixed_frequency must be 1, 2, 4 or 12, got " +
                                             std::to_string(fixed_frequency));
    s.fixed_frequency = static_cast<std::uint32_t>(fixed_frequency);
    QUELM_TRY(dc, dates::parse_day_count(fixed_day_count));
    s.fixed_day_count = dc;
    QUELM_TRY(ft, dates::parse_tenor(float_tenor));
    s.float_tenor = ft;
    s.notional = notional;
    s.calendar = calendar.calendar;
    if (settlement_days > 366) return invalid("swaption: settlement_days must be at most 366");
    s.settlement_days = static_cast<std::uint32_t>(settlement_days);
    QUELM_CHECK(book_names(curve, discount_curve, vol, s.curve, s.discount_curve, s.vol));
    QUELM_CHECK(rates::check(s));
    s.memo = curves::LayoutMemo::fresh();
    s.terms_memo = curves::LayoutMemo::fresh();
    return s;
}

Result<double> swaption_price_of(const Swaption& s, const curves::YieldCurve& curve, double vol,
                                 rates::VolModel model, double shift, const std::optional<CurveRef>& discount_curve) {
    return rates::swaption_price(s, curves_of(curve, discount_curve), vol, {model, shift});
}
Result<double> swaption_forward_of(const Swaption& s, const curves::YieldCurve& curve,
                                   const std::optional<CurveRef>& discount_curve) {
    QUELM_TRY(t, rates::swaption_terms(s, curves_of(curve, discount_curve)));
    return t.forward;
}
Result<double> swaption_annuity_of(const Swaption& s, const curves::YieldCurve& curve,
                                   const std::optional<CurveRef>& discount_curve) {
    QUELM_TRY(t, rates::swaption_terms(s, curves_of(curve, discount_curve)));
    return s.notional * t.annuity;
}
Result<rates::PricedSwaption> swaption_priced_on_of(const Swaption& s, const curves::YieldCurve& curve,
                                                    const std::optional<CurveRef>& discount_curve) {
    return rates::priced_on(s, curves_of(curve, discount_curve));
}

Result<double> swaption_implied_of(const Swaption& s, double price, const curves::YieldCurve& curve,
                                   rates::VolModel model, double shift,
                                   const std::optional<CurveRef>& discount_curve) {
    return rates::swaption_implied_vol(s, price, curves_of(curve, discount_curve), {model, shift});
}

PyObject* expiry_py(const std::variant<dates::Tenor, dates::Serial>& e) {
    if (const auto* t = std::get_if<dates::Tenor>(&e)) return to_py(curves::tenor_text(*t));
    return to_py_date(std::get<dates::Serial>(e));
}
PyObject* tenor_py(dates::Tenor t) { return to_py(curves::tenor_text(t)); }
PyObject* day_count_py(const dates::DayCount& dc) { return to_py(dates::day_count_name(dc)); }
PyObject* count_py(std::uint32_t v) { return to_py(static_cast<std::uint64_t>(v)); }
PyObject* kind_py(rates::SwaptionKind k) {
    return to_py(rates::kSwaptionKinds.aliases[static_cast<std::size_t>(k)].name);
}
PyObject* settlement_py(rates::Settlement k) {
    return to_py(rates::kSettlements.aliases[static_cast<std::size_t>(k)].name);
}

PyObject* swaption_repr(PyObject* self) { return to_py(rates::describe(value_of<Swaption>(self))); }
bool swaption_equal(PyObject* a, PyObject* b) { return value_of<Swaption>(a) == value_of<Swaption>(b); }
Py_hash_t swaption_hash(PyObject* self) {
    const auto h = PyObject_Hash(Ref(to_py(rates::describe(value_of<Swaption>(self)))).get());
    return h == -1 ? -2 : h;
}

// (functools.partial(Swaption, **keywords), (expiry, tenor, strike)).
PyObject* swaption_reduce(const Swaption& s) {
    Ref kwargs(PyDict_New());
    if (!kwargs) return nullptr;
    const auto put = [&](const char* key, PyObject* value) {
        Ref v(value);
        return v && PyDict_SetItemString(kwargs.get(), key, v.get()) == 0;
    };
    if (!put("kind", kind_py(s.kind)) || !put("settlement", settlement_py(s.settlement)) ||
        !put("fixed_frequency", count_py(s.fixed_frequency)) ||
        !put("fixed_day_count", day_count_py(s.fixed_day_count)) || !put("float_tenor", tenor_py(s.float_tenor)) ||
        !put("notional", to_py(s.notional)) || !put("calendar", wrap_calendar(s.calendar)) ||
        !put("settlement_days", count_py(s.settlement_days)) || !put_names(put, s.curve, s.discount_curve, s.vol))
        return nullptr;
    Ref args(Py_BuildValue("(NNd)", expiry_py(s.expiry), tenor_py(s.tenor), s.strike));
    Ref functools(PyImport_ImportModule("functools"));
    if (!args || !functools) return nullptr;
    Ref partial(PyObject_GetAttrString(functools.get(), "partial"));
    if (!partial) return nullptr;
    Ref head(PyTuple_Pack(1, reinterpret_cast<PyObject*>(swaption_type())));
    if (!head) return nullptr;
    Ref fn(PyObject_Call(partial.get(), head.get(), kwargs.get()));
    if (!fn) return nullptr;
    return PyTuple_Pack(2, fn.get(), args.get());
}

constexpr FunctionDef def_swaption_new = typed<&swaption_new>(
    "Swaption",
    {"expiry", "tenor", "strike", "*", {"kind", "\"payer\""}, {"settlement", "\"physical\""},
     {"fixed_frequency", "1"}, {"fixed_day_count", "\"30/360\""}, {"float_tenor", "\"6M\""}, {"notional", "1.0"},
     {"calendar", "\"target\""}, {"settlement_days", "2"}, {"curve", "None"}, {"discount_curve", "None"},
     {"vol", "None"}},
    "A European swaption: at `expiry` (a tenor after the curve's reference date, rolled\n"
    "modified-following on `calendar`, or a date) the right to enter the swap that starts\n"
    "`settlement_days` business days later and runs `tenor`, paying (`kind` \"payer\") or\n"
    "receiving (\"receiver\") `strike` (a decimal) `fixed_frequency` times a year on\n"
    "`fixed_day_count`, against the index of `float_tenor` (act/360). `settlement`:\n"
    "\"physical\" (the swap itself) or \"cash\" (its value on the par-yield annuity).\n"
    "\n"
    "As a trade of a `Book`, `curve` and `discount_curve` name the market curves it is priced\n"
    "off (None: the market's only curve, and the curve it was built on) and `vol` the market\n"
    "rate vol (None: the market's only one, `Market(rate_vols=...)`).")
    .reading_options({"kind", "settlement"});
constexpr FunctionDef def_swaption_price = typed_method<&swaption_price_of>(
    "price", {"curve", "vol", "*", {"model", "\"black\""}, {"shift", "0.0"}, {"discount_curve", "None"}},
    "The value at the curve's reference date: the annuity times the optionlet on the forward\n"
    "swap rate, vol time act/365f to expiry. Forwards are `curve`'s, payments discount on\n"
    "`discount_curve` (by default the curve `curve` was bootstrapped on, else `curve`).\n"
    "`model`: \"black\", \"shifted-black\" (rates moved by `shift`) or \"bachelier\" (a normal vol).\n"
    "\n"
    "    >>> import quelm, datetime\n"
    "    >>> curve = quelm.YieldCurve.flat(0.03, reference_date=datetime.date(2026, 3, 2))\n"
    "    >>> round(quelm.Swaption(\"5Y\", \"10Y\", 0.03).price(curve, 0.2), 6)\n"
    "    0.040979");
constexpr FunctionDef def_swaption_forward = typed_method<&swaption_forward_of>(
    "forward_rate", {"curve", "*", {"discount_curve", "None"}},
    "The forward swap rate: the floating leg's value over the fixed leg's annuity.");
constexpr FunctionDef def_swaption_annuity = typed_method<&swaption_annuity_of>(
    "annuity", {"curve", "*", {"discount_curve", "None"}},
    "The annuity the price is read on, times the notional: the fixed accruals on the discount\n"
    "curve (physical), or the par-yield annuity at the forward swap rate (cash).");
constexpr FunctionDef def_swaption_implied = typed_method<&swaption_implied_of>(
    "implied_vol", {"price", "curve", "*", {"model", "\"black\""}, {"shift", "0.0"}, {"discount_curve", "None"}},
    "The vol at which the swaption is worth `price`, by the library's exact Black and\n"
    "Bachelier inversions.");
constexpr FunctionDef def_swaption_priced_on = typed_method<&swaption_priced_on_of>(
    "priced_on", {"curve", "*", {"discount_curve", "None"}},
    "The swaption with its forward swap rate and annuity read off `curve` (and\n"
    "`discount_curve`, as for `price`) once: a `PricedSwaption`, priced at any vol and strike\n"
    "with `price`'s bits, and over arrays by `quelm.vec.swaption_price`.");
constexpr FunctionDef def_swaption_reduce =
    method<swaption_reduce>("__reduce__", {}, "Pickle support: rebuild through the constructor.")
        .returning("Tuple[Any, ...]");

constexpr Callable kSwaptionNew = callable<def_swaption_new>;
constexpr Callable kSwaptionMethods[] = {callable<def_swaption_price>, callable<def_swaption_forward>,
                                         callable<def_swaption_annuity>, callable<def_swaption_implied>,
                                         callable<def_swaption_priced_on>,
                                         callable<def_swaption_reduce>};

const GetterDef kSwaptionGetters[] = {
    attribute<&Swaption::expiry, expiry_py>("expiry", "A tenor after the reference date, or a date.",
                                            "str | datetime.date"),
    attribute<&Swaption::tenor, tenor_py>("tenor", "The underlying swap's length.", "str"),
    attribute<&Swaption::strike>("strike", "The fixed rate, a decimal.", "float"),
    attribute<&Swaption::kind, kind_py>("kind", "\"payer\" or \"receiver\".", "str"),
    attribute<&Swaption::settlement, settlement_py>("settlement", "\"physical\" or \"cash\".", "str"),
    attribute<&Swaption::fixed_frequency, count_py>("fixed_frequency", "Fixed payments a year.", "int"),
    attribute<&Swaption::fixed_day_count, day_count_py>("fixed_day_count", "The fixed leg's day count.", "str"),
    attribute<&Swaption::float_tenor, tenor_py>("float_tenor", "The floating index tenor.", "str"),
    attribute<&Swaption::notional>("notional", "The notional.", "float"),
    attribute<&Swaption::calendar, wrap_calendar>("calendar", "The calendar of the dates.", "Calendar"),
    attribute<&Swaption::settlement_days, count_py>("settlement_days", "Business days from expiry to the start.",
                                                    "int"),
    attribute<&Swaption::curve, text_py>("curve", "The market curve a book prices it off, or None.", "str | None"),
    attribute<&Swaption::discount_curve, text_py>("discount_curve", "The market curve a book discounts it on, or None.",
                                                  "str | None"),
    attribute<&Swaption::vol, text_py>("vol", "The market rate vol a book prices it on, or None.", "str | None"),
};

}  // namespace

PyTypeObject* swaption_type() {
    static const std::string doc =
        "Immutable; compares equal to the same swaption on the same terms, hashes and pickles.\n\n"
        "    >>> import quelm\n    >>> quelm.Swaption(\"5Y\", \"10Y\", 0.03)\n"
        "    Swaption('5Y', '10Y', 0.03)";
    static const ClassDef def{"Swaption", doc.c_str(), kSwaptionMethods, std::size(kSwaptionMethods), kSwaptionGetters,
                              std::size(kSwaptionGetters), &swaption_repr, &swaption_equal, &swaption_hash,
                              &kSwaptionNew};
    static PyTypeObject* type = create_class(def);
    return type;
}
QUELM_PUBLIC_CLASS(swaption_type);

}  // namespace quelm::py

// Python class FloatingRateNote: a floating-rate note held, priced on a projection and a
// discount curve, and a trade of a Book.
#include "bindings/curves/instruments.hpp"

#include "bindings/dates/calendar.hpp"
#include "bindings/string_options.hpp"
#include "frame/classes.hpp"
#include "frame/registry.hpp"
#include "frame/result.hpp"
#include "quelm/curves/floating_note.hpp"
#include "quelm/dates/serial.hpp"

#include <string>

namespace quelm::py {

constexpr Section kSection = Section::FixedIncome;
constexpr std::string_view kGuide = "curves";

namespace {

using curves::FloatingRateNote;

Result<std::string> name_of(const std::optional<std::string_view>& name, const char* what) {
    if (!name) return std::string();
    if (name->empty()) return bad_argument(std::string(what) + " must not be empty");
    return std::string(*name);
}

Result<FloatingRateNote> note_new(Date effective, Date maturity, double spread, std::string_view index_tenor,
                                  double notional, std::string_view day_count, const CalendarArg& calendar,
                                  dates::Convention convention, std::uint64_t fixing_days,
                                  const std::optional<std::string_view>& curve,
                                  const std::optional<std::string_view>& discount_curve,
                                  const std::optional<std::string_view>& index) {
    FloatingRateNote n;
    QUELM_TRY(tenor, dates::parse_tenor(index_tenor));
    QUELM_TRY(dc, dates::parse_day_count(day_count));
    if (fixing_days > 366) return invalid("floating rate note: fixing_days must be at most 366");
    QUELM_TRY(c, name_of(curve, "curve names"));
    QUELM_TRY(d, name_of(discount_curve, "curve names"));
    QUELM_TRY(i, name_of(index, "index"));
    n.effective = effective.serial;
    n.maturity = maturity.serial;
    n.spread = spread;
    n.index_tenor = tenor;
    n.notional = notional;
    n.day_count = dc;
    n.calendar = calendar.calendar;
    n.convention = convention;
    n.fixing_days = static_cast<std::uint32_t>(fixing_days);
    n.curve = std::move(c);
    n.discount_curve = std::move(d);
    n.index = std::move(i);
    QUELM_CHECK(curves::check(n));
    n.memo = curves::LayoutMemo::fresh();  // the note and its copies lay it out once per date
    return n;
}

Result<double> note_npv(const FloatingRateNote& n, const curves::YieldCurve& curve,
                        const std::optional<CurveRef>& discount_curve) {
    return curves::note_value(n, curve, discount_curve ? discount_curve->curve : nullptr);
}

PyObject* text_py(const std::string& s) {
    if (s.empty()) Py_RETURN_NONE;
    return to_py(std::string_view(s));
}
PyObject* tenor_py(dates::Tenor t) { return to_py(curves::tenor_text(t)); }
PyObject* day_count_py(const dates::DayCount& dc) { return to_py(dates::day_count_name(dc)); }
PyObject* convention_py(dates::Convention c) {
    return to_py(dates::kConventions.aliases[static_cast<std::size_t>(c)].name);
}
PyObject* count_py(std::uint32_t v) { return to_py(static_cast<std::uint64_t>(v)); }

PyObject* note_repr(PyObject* self) { return to_py(curves::describe(value_of<FloatingRateNote>(self))); }
bool note_equal(PyObject* a, PyObject* b) { return value_of<FloatingRateNote>(a) == value_of<FloatingRateNote>(b); }
Py_hash_t note_hash(PyObject* self) {
    const auto h = static_cast<Py_hash_t>(curves::hash_of(value_of<FloatingRateNote>(self)) >> 1);
    return h == -1 ? -2 : h;
}

// (functools.partial(FloatingRateNote, **keywords), (effective, maturity, spread)).
PyObject* note_reduce(const FloatingRateNote& n) {
    Ref kwargs(PyDict_New());
    if (!kwargs) return nullptr;
    const auto put = [&](const char* key, PyObject* value) {
        Ref v(value);
        return v && PyDict_SetItemString(kwargs.get(), key, v.get()) == 0;
    };
    if (!put("index_tenor", tenor_py(n.index_tenor)) || !put("notional", to_py(n.notional)) ||
        !put("day_count", day_count_py(n.day_count)) || !put("calendar", wrap_calendar(n.calendar)) ||
        !put("convention", convention_py(n.convention)) || !put("fixing_days", count_py(n.fixing_days)) ||
        !put("curve", text_py(n.curve)) || !put("discount_curve", text_py(n.discount_curve)) ||
        !put("index", text_py(n.index)))
        return nullptr;
    Ref args(Py_BuildValue("(NNd)", to_py_date(n.effective), to_py_date(n.maturity), n.spread));
    Ref functools(PyImport_ImportModule("functools"));
    if (!args || !functools) return nullptr;
    Ref partial(PyObject_GetAttrString(functools.get(), "partial"));
    if (!partial) return nullptr;
    Ref head(PyTuple_Pack(1, reinterpret_cast<PyObject*>(floating_rate_note_type())));
    if (!head) return nullptr;
    Ref fn(PyObject_Call(partial.get(), head.get(), kwargs.get()));
    if (!fn) return nullptr;
    return PyTuple_Pack(2, fn.get(), args.get());
}

constexpr FunctionDef def_note_new = typed<&note_new>(
    "FloatingRateNote",
    {"effective", "maturity", "spread", "*", {"index_tenor", "\"3M\""}, {"notional", "100.0"},
     {"day_count", "\"act/360\""}, {"calendar", "\"target\""}, {"convention", "\"modified-following\""},
     {"fixing_days", "2"}, {"curve", "None"}, {"discount_curve", "None"}, {"index", "None"}},
    "A floating-rate note held: coupons of the index forward over each period plus `spread`\n"
    "(a decimal), times the period's accrual on `day_count`, times `notional` (its face),\n"
    "and the face at `maturity`. The schedule runs every `index_tenor` from `effective` back\n"
    "from `maturity`, rolled by `convention` on `calendar`; each coupon is paid at its\n"
    "period's end and fixes `fixing_days` business days before the period starts.\n"
    "Coupons paid on or before the reference date are gone; one that fixed before it pays\n"
    "its fixing, read in a `Book` from the market's fixings named `index` (None: its curve's\n"
    "name). `curve` and `discount_curve`: the market curves a `Book` prices it on.");
constexpr FunctionDef def_note_npv = typed_method<&note_npv>(
    "npv", {"curve", "*", {"discount_curve", "None"}},
    "The value at the curve's reference date: forwards from `curve`, payments discounted on\n"
    "`discount_curve` (by default the curve `curve` was bootstrapped on, else `curve`), in the\n"
    "units of `notional`. A note whose coupon has fixed before the reference date needs its\n"
    "fixing: price it in a `Book`.");
constexpr FunctionDef def_note_reduce =
    method<note_reduce>("__reduce__", {}, "Pickle support: rebuild through the constructor.")
        .returning("Tuple[Any, ...]");

constexpr Callable kNoteNew = callable<def_note_new>;
constexpr Callable kNoteMethods[] = {callable<def_note_npv>, callable<def_note_reduce>};

const GetterDef kNoteGetters[] = {
    attribute<&FloatingRateNote::effective, to_py_date>("effective", "The start, unadjusted.", "datetime.date"),
    attribute<&FloatingRateNote::maturity, to_py_date>("maturity", "The end, unadjusted.", "datetime.date"),
    attribute<&FloatingRateNote::spread>("spread", "The spread over the index, a decimal.", "float"),
    attribute<&FloatingRateNote::index_tenor, tenor_py>("index_tenor", "The tenor of the index and the periods.",
                                                        "str"),
    attribute<&FloatingRateNote::notional>("notional", "The face.", "float"),
    attribute<&FloatingRateNote::day_count, day_count_py>("day_count", "The day count of the coupons.", "str"),
    attribute<&FloatingRateNote::calendar, wrap_calendar>("calendar", "The calendar of the schedule.", "Calendar"),
    attribute<&FloatingRateNote::convention, convention_py>("convention", "How dates roll onto business days.",
                                                            "str"),
    attribute<&FloatingRateNote::fixing_days, count_py>("fixing_days",
                                                        "Business days from a coupon's fixing to its start.", "int"),
    attribute<&FloatingRateNote::curve, text_py>("curve", "The market curve a Book projects it on, or None.",
                                                 "str | None"),
    attribute<&FloatingRateNote::discount_curve, text_py>(
        "discount_curve", "The market curve a Book discounts it on, or None.", "str | None"),
    attribute<&FloatingRateNote::index, text_py>("index", "The fixings it reads in a Book, or None (its curve's).",
                                                 "str | None"),
};

}  // namespace

PyTypeObject* floating_rate_note_type() {
    static const std::string doc =
        "Immutable; compares equal to the same note on the same terms, hashes and pickles.\n\n"
        "    >>> import quelm\n    >>> quelm.FloatingRateNote(\"2026-03-04\", \"2031-03-04\", 0.0015)\n"
        "    FloatingRateNote('2026-03-04', '2031-03-04', 0.0015)";
    static const ClassDef def{"FloatingRateNote", doc.c_str(), kNoteMethods, std::size(kNoteMethods), kNoteGetters,
                              std::size(kNoteGetters), &note_repr, &note_equal, &note_hash, &kNoteNew};
    static PyTypeObject* type = create_class(def);
    return type;
}
QUELM_PUBLIC_CLASS(floating_rate_note_type);

}  // namespace quelm::py

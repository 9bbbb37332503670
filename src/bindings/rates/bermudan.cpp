// Python class BermudanSwaption: the right on each exercise date to enter the swap to
// maturity, priced by HullWhite.price(..., method="tree").
#include "bindings/rates/rate_args.hpp"

#include "bindings/dates/calendar.hpp"
#include "bindings/string_options.hpp"
#include "frame/classes.hpp"
#include "frame/registry.hpp"
#include "frame/result.hpp"
#include "quelm/rates/bermudan.hpp"

#include <string>

namespace quelm::py {

constexpr Section kSection = Section::FixedIncome;
constexpr std::string_view kGuide = "rate-options";


namespace {

using rates::BermudanSwaption;

Result<BermudanSwaption> bermudan_new(const std::vector<Date>& exercise_dates, Date maturity, double strike,
                                      rates::SwaptionKind kind, std::uint64_t fixed_frequency,
                                      std::string_view fixed_day_count, double notional, const CalendarArg& calendar,
                                      const std::optional<std::string_view>& curve,
                                      const std::optional<std::string_view>& vol) {
    BermudanSwaption b;
    std::string no_discount;
    QUELM_CHECK(book_names(curve, std::nullopt, vol, b.curve, no_discount, b.vol));
    for (const Date& d : exercise_dates) b.exercise_dates.push_back(d.serial);
    b.maturity = maturity.serial;
    b.strike = strike;
    b.kind = kind;
    if (fixed_frequency > 12)
        return invalid("Bermudan swaption: fixed_frequency must be 1, 2, 4 or 12, got " + std::to_string(fixed_frequency));
    b.fixed_frequency = static_cast<std::uint32_t>(fixed_frequency);
    QUELM_TRY(dc, dates::parse_day_count(fixed_day_count));
    b.fixed_day_count = dc;
    b.notional = notional;
    b.calendar = calendar.calendar;
    QUELM_CHECK(rates::check(b));
    QUELM_CHECK(rates::fixed_leg(b));
    return b;
}

PyObject* dates_py(const std::vector<dates::Serial>& ds) {
    return make_list(ds.size(), [&](std::size_t i) { return to_py_date(ds[i]); });
}
PyObject* kind_py(rates::SwaptionKind k) { return to_py(rates::kSwaptionKinds.aliases[static_cast<std::size_t>(k)].name); }
PyObject* count_py(std::uint32_t v) { return to_py(static_cast<std::uint64_t>(v)); }
PyObject* day_count_py(const dates::DayCount& dc) { return to_py(dates::day_count_name(dc)); }

// (functools.partial(BermudanSwaption, **keywords), (exercise_dates, maturity, strike)).
PyObject* bermudan_reduce(const BermudanSwaption& b) {
    return reduce_with(bermudan_swaption_type(),
                       Py_BuildValue("(NNd)", dates_py(b.exercise_dates), to_py_date(b.maturity), b.strike),
                       {{"kind", kind_py(b.kind)},
                        {"fixed_frequency", count_py(b.fixed_frequency)},
                        {"fixed_day_count", day_count_py(b.fixed_day_count)},
                        {"notional", to_py(b.notional)},
                        {"calendar", wrap_calendar(b.calendar)},
                        {"curve", text_py(b.curve)},
                        {"vol", text_py(b.vol)}});
}

PyObject* bermudan_repr(PyObject* self) { return to_py(rates::describe(value_of<BermudanSwaption>(self))); }
bool bermudan_equal(PyObject* a, PyObject* b) {
    return value_of<BermudanSwaption>(a) == value_of<BermudanSwaption>(b);
}

constexpr FunctionDef def_bermudan_new = typed<&bermudan_new>(
    "BermudanSwaption",
    {"exercise_dates", "maturity", "strike", "*", {"kind", "\"payer\""}, {"fixed_frequency", "1"},
     {"fixed_day_count", "\"30/360\""}, {"notional", "1.0"}, {"calendar", "\"target\""}, {"curve", "None"},
     {"vol", "None"}},
    "On each of `exercise_dates` the right to enter, from that date to `maturity`, the swap\n"
    "paying (`kind` \"payer\") or receiving (\"receiver\") `strike` `fixed_frequency` times a year\n"
    "on `fixed_day_count` against the floating rate. The fixed leg runs from the first\n"
    "exercise date, rolled back from `maturity` modified-following on `calendar`; each\n"
    "exercise date must be one of its period starts. Priced by `HullWhite.price(...,\n"
    "method=\"tree\")` or `method=\"pde\"`.\n"
    "\n"
    "As a trade of a `Book`, `curve` names the market curve it is priced on (both projecting\n"
    "and discounting) and `vol` the market's `HullWhite` rate vol whose a and sigma it takes\n"
    "(None: the market's only curve, its only rate vol); the book prices it by finite\n"
    "differences on 200 steps.")
    .reading_options({"kind"});

constexpr Callable kBermudanNew = callable<def_bermudan_new>;
constexpr FunctionDef def_bermudan_reduce =
    method<bermudan_reduce>("__reduce__", {}, "Pickle support: rebuild through the constructor.")
        .returning("Tuple[Any, ...]");
constexpr Callable kBermudanMethods[] = {callable<def_bermudan_reduce>};

const GetterDef kBermudanGetters[] = {
    attribute<&BermudanSwaption::exercise_dates, dates_py>("exercise_dates", "The exercise dates.",
                                                           "list[datetime.date]"),
    attribute<&BermudanSwaption::maturity, to_py_date>("maturity", "The swap's end, unadjusted.", "datetime.date"),
    attribute<&BermudanSwaption::strike>("strike", "The fixed rate, a decimal.", "float"),
    attribute<&BermudanSwaption::kind, kind_py>("kind", "\"payer\" or \"receiver\".", "str"),
    attribute<&BermudanSwaption::fixed_frequency, count_py>("fixed_frequency", "Fixed payments a year.", "int"),
    attribute<&BermudanSwaption::fixed_day_count, day_count_py>("fixed_day_count", "The fixed leg's day count.",
                                                                "str"),
    attribute<&BermudanSwaption::notional>("notional", "The notional.", "float"),
    attribute<&BermudanSwaption::curve, text_py>("curve", "The market curve it is priced on, or None.", "str | None"),
    attribute<&BermudanSwaption::vol, text_py>("vol", "The market Hull-White model it is priced on, or None.",
                                               "str | None"),
};

}  // namespace

PyTypeObject* bermudan_swaption_type() {
    static const std::string doc =
        "Immutable; compares equal to the same swaption on the same terms.\n\n"
        "    >>> import quelm\n"
        "    >>> quelm.BermudanSwaption([\"2027-03-02\", \"2028-03-02\"], \"2032-03-02\", 0.03)\n"
        "    BermudanSwaption(['2027-03-02', '2028-03-02'], '2032-03-02', 0.03)";
    static const ClassDef def{"BermudanSwaption", doc.c_str(), kBermudanMethods, std::size(kBermudanMethods), kBermudanGetters,
                              std::size(kBermudanGetters), &bermudan_repr, &bermudan_equal, nullptr, &kBermudanNew};
    static PyTypeObject* type = create_class(def);
    return type;
}
QUELM_PUBLIC_CLASS(bermudan_swaption_type);

}  // namespace quelm::py

// Python bindings: year_fraction, day_count (both also over arrays), schedule; and the day
// count as a string option of array calls.
#include "bindings/dates/calendar.hpp"
#include "frame/call.hpp"
#include "frame/declare.hpp"
#include "frame/registry.hpp"
#include "frame/dates.hpp"
#include "frame/result.hpp"
#include "bindings/string_options.hpp"
#include "quelm/dates/day_count.hpp"
#include "quelm/dates/schedule.hpp"

#include <array>
#include <optional>
#include <string>

namespace quelm::py {

namespace {

using DayCountOption = ParsedOption<dates::DayCount>;
static_assert(static_cast<std::size_t>(dates::DayCountKind::Bus252) + 1 == DayCountOption::kKinds);
static_assert(DayCountOption::count <= vec::kFirstRejected);

// Every day count a text can name, at its code: the kinds (bus/252's own slot unused), then
// bus/252 on each set of markets, bit i-1 of the offset for market i.
const std::array<dates::DayCount, DayCountOption::count>& coded_day_counts() {
    static const auto* table = [] {
        auto* t = new std::array<dates::DayCount, DayCountOption::count>();
        for (std::size_t k = 0; k < DayCountOption::kKinds; ++k) (*t)[k].kind = static_cast<dates::DayCountKind>(k);
        for (std::size_t m = 0; m < DayCountOption::count - DayCountOption::kKinds; ++m) {
            std::string names = "weekends";
            for (std::size_t i = 1; i < dates::kMarketCount; ++i)
                if ((m >> (i - 1) & 1u) != 0) names.append("+").append(dates::kMarketNames[i]);
            (*t)[DayCountOption::kKinds + m] = {dates::DayCountKind::Bus252, dates::Calendar::parse(names).value()};
        }
        return t;
    }();
    return *table;
}

}  // namespace

bool ParsedOption<dates::DayCount>::code(std::string_view text, unsigned char& code, std::string& message) {
    const auto parsed = parse(text);
    if (!parsed) {
        message = parsed.error().render();
        return false;
    }
    const auto& table = coded_day_counts();
    for (std::size_t c = 0; c < table.size(); ++c) {
        if (table[c] == *parsed && (c >= kKinds || parsed->kind != dates::DayCountKind::Bus252)) {
            code = static_cast<unsigned char>(c);
            return true;
        }
    }
    message = "day count " + quote_literal(text) + " has no code";  // a calendar beyond its markets
    return false;
}

const dates::DayCount& ParsedOption<dates::DayCount>::of_code(unsigned char code) { return coded_day_counts()[code]; }

constexpr Section kSection = Section::Dates;
constexpr std::string_view kGuide = "dates";  // the guide page of its names

// day_count's result: a Python int.
template <>
struct ToPy<std::int64_t> {
    static PyObject* convert(std::int64_t n) { return PyLong_FromLongLong(n); }
};
template <>
struct Annotation<std::int64_t> {
    static const char* result() { return "int"; }
};

namespace {

std::optional<dates::Serial> serial(const std::optional<Date>& d) {
    if (!d) return std::nullopt;
    return d->serial;
}

Result<double> year_fraction_of(Date start, Date end, const dates::DayCount& day_count, std::optional<Date> ref_start,
                                std::optional<Date> ref_end, std::optional<Date> termination) {
    return dates::year_fraction(start.serial, end.serial, day_count,
                                {serial(ref_start), serial(ref_end), serial(termination)});
}

Result<std::int64_t> day_count_of(Date start, Date end, const dates::DayCount& day_count,
                                  std::optional<Date> termination) {
    return dates::day_count(start.serial, end.serial, day_count, serial(termination));
}

PyObject* schedule_impl(Date effective, Date termination, std::string_view tenor, const CalendarArg& calendar,
                        dates::Convention convention, std::optional<dates::Convention> termination_convention,
                        dates::Rule rule, bool end_of_month, std::optional<Date> first_date,
                        std::optional<Date> next_to_last_date) {
    dates::ScheduleSpec spec{.effective = effective.serial,
                             .termination = termination.serial,
                             .tenor = {},
                             .calendar = calendar.calendar,
                             .end_of_month = end_of_month,
                             .first_date = serial(first_date),
                             .next_to_last_date = serial(next_to_last_date)};
    spec.convention = convention;
    spec.termination_convention = termination_convention.value_or(convention);
    spec.rule = rule;
    auto t = dates::parse_tenor(tenor);
    if (!t) return raise(t.error());
    spec.tenor = *t;
    return finish(dates::make_schedule(spec), [](const dates::Schedule& s) { return to_py_dates(s.dates); });
}

constexpr FunctionDef def_year_fraction = typed_in_vec<&year_fraction_of>(
    "year_fraction",
    {"start", "end", "day_count", "*", {"ref_start", "None"}, {"ref_end", "None"}, {"termination", "None"}},
    "The year fraction from `start` to `end` by a day count: \"act/360\", \"act/365f\",\n"
    "\"act/364\", \"act/365.25\", \"30/360\", \"30e/360\", \"30e/360-isda\" (needs `termination`),\n"
    "\"act/act-isda\", \"act/act-icma\" (reference period `ref_start`..`ref_end`, by default\n"
    "the period itself), \"act/act-afb\" or \"bus/252\" (\"bus/252:<calendar>\").");
QUELM_PUBLIC(def_year_fraction);

constexpr FunctionDef def_day_count = typed_in_vec<&day_count_of>(
    "day_count", {"start", "end", "day_count", "*", {"termination", "None"}},
    "The days from `start` to `end` as the day count counts them (30/360 days,\n"
    "business days for \"bus/252\", actual days otherwise).");
QUELM_PUBLIC(def_day_count);

constexpr FunctionDef def_schedule = function<schedule_impl>(
    "schedule",
    {"effective", "termination", "tenor", "*", {"calendar", "\"weekends\""}, {"convention", "\"unadjusted\""},
     {"termination_convention", "None"}, {"rule", "\"backward\""}, {"end_of_month", "False"},
     {"first_date", "None"}, {"next_to_last_date", "None"}},
    "The dates of a schedule from `effective` to `termination` every `tenor`: generated\n"
    "\"backward\" from the termination (a stub at the front), \"forward\" (a stub at the end),\n"
    "\"zero\" (the two dates) or \"imm\" (inner dates on third Wednesdays); `first_date` and\n"
    "`next_to_last_date` fix irregular first and last periods; dates then adjusted by\n"
    "`convention` (the termination by `termination_convention`, default the same).")
    .returning("list[datetime.date]");
QUELM_PUBLIC(def_schedule);

}  // namespace

}  // namespace quelm::py

// Python bindings: year_fraction, day_count, schedule.
#include "bindings/calendar.hpp"
#include "bindings/frame/call.hpp"
#include "bindings/frame/registry.hpp"
#include "bindings/frame/dates.hpp"
#include "bindings/frame/result.hpp"
#include "bindings/string_options.hpp"
#include "quelm/dates/day_count.hpp"
#include "quelm/dates/schedule.hpp"

#include <optional>

namespace quelm::py {

constexpr Section kSection = Section::Dates;
constexpr std::string_view kGuide = "dates";  // the guide page of its names

namespace {

std::optional<dates::Serial> serial(const std::optional<Date>& d) {
    if (!d) return std::nullopt;
    return d->serial;
}

PyObject* year_fraction_impl(Date start, Date end, std::string_view day_count, std::optional<Date> ref_start,
                             std::optional<Date> ref_end, std::optional<Date> termination) {
    auto dc = dates::parse_day_count(day_count);
    if (!dc) return raise(dc.error());
    return finish(dates::year_fraction(start.serial, end.serial, *dc,
                                       {serial(ref_start), serial(ref_end), serial(termination)}));
}

PyObject* day_count_impl(Date start, Date end, std::string_view day_count, std::optional<Date> termination) {
    auto dc = dates::parse_day_count(day_count);
    if (!dc) return raise(dc.error());
    return finish(dates::day_count(start.serial, end.serial, *dc, serial(termination)),
                  [](std::int64_t n) { return PyLong_FromLongLong(n); });
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

constexpr FunctionDef def_year_fraction = function<year_fraction_impl>(
    "year_fraction",
    {"start", "end", "day_count", "*", {"ref_start", "None"}, {"ref_end", "None"}, {"termination", "None"}},
    "The year fraction from `start` to `end` by a day count: \"act/360\", \"act/365f\",\n"
    "\"act/364\", \"act/365.25\", \"30/360\", \"30e/360\", \"30e/360-isda\" (needs `termination`),\n"
    "\"act/act-isda\", \"act/act-icma\" (reference period `ref_start`..`ref_end`, by default\n"
    "the period itself), \"act/act-afb\" or \"bus/252\" (\"bus/252:<calendar>\").")
    .returning("float");
QUELM_PUBLIC(def_year_fraction);

constexpr FunctionDef def_day_count = function<day_count_impl>(
    "day_count", {"start", "end", "day_count", "*", {"termination", "None"}},
    "The days from `start` to `end` as the day count counts them (30/360 days,\n"
    "business days for \"bus/252\", actual days otherwise).")
    .returning("int");
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

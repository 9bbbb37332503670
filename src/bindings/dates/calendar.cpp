// Python class Calendar.
#include "bindings/dates/calendar.hpp"

#include "frame/classes.hpp"
#include "frame/registry.hpp"
#include "bindings/string_options.hpp"
#include "frame/dates.hpp"
#include "frame/result.hpp"
#include "quelm/dates/adjust.hpp"
#include "quelm/dates/tenor.hpp"

#include <string>
#include <vector>

namespace quelm::py {

constexpr Section kSection = Section::Dates;
constexpr std::string_view kGuide = "dates";  // the guide page of its names

bool from_py(PyObject* o, CalendarArg& out) {
    if (Py_TYPE(o) == calendar_type()) {
        out.calendar = value_of<dates::Calendar>(o);
        return true;
    }
    if (!PyUnicode_Check(o)) {
        PyErr_Format(PyExc_TypeError, "expected quelm.Calendar or a calendar name, got %s", Py_TYPE(o)->tp_name);
        return false;
    }
    std::string_view name;
    if (!from_py(o, name)) return false;
    auto cal = dates::Calendar::parse(name);
    if (!cal) {
        raise(cal.error());
        return false;
    }
    out.calendar = std::move(*cal);
    return true;
}

PyObject* wrap_calendar(const dates::Calendar& cal) { return wrap(calendar_type(), cal); }

namespace {

using dates::Calendar;

PyObject* date_result(const Result<dates::Serial>& r) {
    return finish(r, [](dates::Serial s) { return to_py_date(s); });
}

PyObject* calendar_new(const CalendarArg& name) { return wrap_calendar(name.calendar); }

PyObject* is_business_day_impl(const Calendar& cal, Date d) {
    if (auto ok = cal.check_covers(d.serial); !ok) return raise(ok.error());
    return PyBool_FromLong(cal.is_business_day(d.serial));
}

PyObject* is_holiday_impl(const Calendar& cal, Date d) {
    if (auto ok = cal.check_covers(d.serial); !ok) return raise(ok.error());
    return PyBool_FromLong(cal.is_holiday(d.serial));
}

PyObject* adjust_impl(const Calendar& cal, Date d, dates::Convention convention) {
    return date_result(dates::adjust(cal, d.serial, convention));
}

PyObject* advance_impl(const Calendar& cal, Date d, std::string_view tenor, dates::Convention convention,
                       bool end_of_month) {
    auto t = dates::parse_tenor(tenor);
    if (!t) return raise(t.error());
    return date_result(dates::advance(cal, d.serial, *t, convention, end_of_month));
}

PyObject* business_days_between_impl(const Calendar& cal, Date start, Date end) {
    return finish(compute([&](Cancel& c) { return cal.business_days_between(start.serial, end.serial, c); }),
                  [](std::int64_t n) { return PyLong_FromLongLong(n); });
}

PyObject* holidays_impl(const Calendar& cal, Date start, Date end) {
    return finish(compute([&](Cancel& c) { return cal.holidays(start.serial, end.serial, c); }),
                  [](const std::vector<dates::Serial>& v) { return to_py_dates(v); });
}

PyObject* with_holidays_impl(const Calendar& cal, const std::vector<Date>& days) {
    std::vector<dates::Serial> serials;
    serials.reserve(days.size());
    for (const Date& d : days) serials.push_back(d.serial);
    return wrap_calendar(cal.with_holidays(serials));
}

PyObject* name_get(PyObject* self) { return to_py(value_of<Calendar>(self).name()); }

// The extra holidays as ISO text, in order.
PyObject* extra_texts(const Calendar& cal) {
    const auto extra = cal.extra_holidays();
    return make_list(extra.size(), [&](std::size_t i) { return to_py(dates::format_iso(extra[i])); });
}

// (Calendar, (name,)), or (Calendar.with_holidays, (Calendar(name), [dates])) with extra holidays.
PyObject* reduce_impl(const Calendar& cal) {
    PyObject* type = reinterpret_cast<PyObject*>(calendar_type());
    Ref name(to_py(cal.name()));
    if (!name) return nullptr;
    if (cal.extra_holidays().empty()) {
        Ref args(PyTuple_Pack(1, name.get()));
        return args ? PyTuple_Pack(2, type, args.get()) : nullptr;
    }
    Ref method(PyObject_GetAttrString(type, "with_holidays"));
    Ref base(wrap_calendar(Calendar::parse(cal.name()).value()));
    Ref extra(extra_texts(cal));
    if (!method || !base || !extra) return nullptr;
    Ref args(PyTuple_Pack(2, base.get(), extra.get()));
    return args ? PyTuple_Pack(2, method.get(), args.get()) : nullptr;
}

PyObject* calendar_repr(PyObject* self) {
    const Calendar& cal = value_of<Calendar>(self);
    std::string text = "Calendar('" + cal.name() + "')";
    if (!cal.extra_holidays().empty()) {
        text += ".with_holidays([";
        const auto extra = cal.extra_holidays();
        for (std::size_t i = 0; i < extra.size(); ++i) text += (i ? ", '" : "'") + dates::format_iso(extra[i]) + "'";
        text += "])";
    }
    return to_py(text);
}

bool calendar_equal(PyObject* a, PyObject* b) { return value_of<Calendar>(a) == value_of<Calendar>(b); }

Py_hash_t calendar_hash(PyObject* self) {
    const auto h = static_cast<Py_hash_t>(value_of<Calendar>(self).hash() >> 1);
    return h == -1 ? -2 : h;
}

constexpr FunctionDef def_constructor = function<calendar_new>(
    "Calendar", {"name"},
    "A business-day calendar: \"weekends\", \"target\", \"uk\", \"us-government-bond\",\n"
    "\"us-nyse\" or \"japan\", or several joined with \"+\" (a holiday when any is closed).")
    .returning("Calendar");
constexpr Callable kConstructor = callable<def_constructor>;

constexpr FunctionDef def_is_business_day = method<is_business_day_impl>("is_business_day", {"d"}, "Whether `d` is a business day.").returning("bool");
constexpr FunctionDef def_is_holiday = method<is_holiday_impl>("is_holiday", {"d"}, "Whether `d` is a holiday or a weekend day.").returning("bool");
constexpr FunctionDef def_adjust = method<adjust_impl>(
        "adjust", {"d", {"convention", "\"following\""}},
        "`d` moved to a business day by the convention: \"following\", \"modified-following\",\n"
        "\"preceding\", \"modified-preceding\", \"unadjusted\" or \"nearest\".").returning("datetime.date");
constexpr FunctionDef def_advance = method<advance_impl>(
        "advance", {"d", "tenor", {"convention", "\"following\""}, {"end_of_month", "False"}},
        "`d` moved by a tenor: \"2D\" (business days), \"1W\", \"3M\", \"10Y\", negative counts\n"
        "allowed; weeks, months and years are then adjusted by the convention. With\n"
        "`end_of_month`, a month's last business day rolls to the last business day.").returning("datetime.date");
constexpr FunctionDef def_business_days_between = method<business_days_between_impl>(
        "business_days_between", {"start", "end"},
        "The business days from `start` (included) to `end` (excluded); negative when\n"
        "`end` precedes `start`.").returning("int");
constexpr FunctionDef def_holidays = method<holidays_impl>(
        "holidays", {"start", "end"},
        "The holidays that fall on weekdays from `start` to `end`, both included.").returning("list[datetime.date]");
constexpr FunctionDef def_with_holidays = method<with_holidays_impl>(
        "with_holidays", {"dates"},
        "A new calendar with `dates` as extra holidays.").returning("Calendar");
constexpr FunctionDef def_reduce = method<reduce_impl>("__reduce__", {}, "Pickle support: rebuild from the name and the extra holidays.").returning("Tuple[Any, ...]");

constexpr Callable kMethods[] = {
    callable<def_is_business_day>, callable<def_is_holiday>, callable<def_adjust>, callable<def_advance>,
    callable<def_business_days_between>, callable<def_holidays>, callable<def_with_holidays>,
    callable<def_reduce>,
};

const GetterDef kGetters[] = {
    {"name", "The markets, joined with '+' in a fixed order.", &name_get, "str"},
};

const ClassDef kClass = {
    "Calendar",
    "Immutable; compares equal to a calendar with the same markets and extra holidays.\n"
    "\n"
    "    >>> import quelm, datetime\n"
    "    >>> uk = quelm.Calendar(\"uk\")\n"
    "    >>> uk.is_business_day(datetime.date(2022, 9, 19))   # the state funeral\n"
    "    False\n"
    "    >>> uk.advance(\"2013-05-24\", \"2D\")\n"
    "    datetime.date(2013, 5, 29)",
    kMethods, std::size(kMethods), kGetters, 1, &calendar_repr, &calendar_equal, &calendar_hash, &kConstructor,
};

}  // namespace

PyTypeObject* calendar_type() {
    static PyTypeObject* type = create_class(kClass);
    return type;
}

QUELM_PUBLIC_CLASS(calendar_type);

}  // namespace quelm::py

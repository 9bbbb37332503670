// The calendar argument shared by the date bindings: a quelm.Calendar or its name.
#pragma once

#include "frame/annotations.hpp"
#include "frame/ref.hpp"
#include "quelm/dates/calendar.hpp"

#include <string_view>

namespace quelm::py {

PyTypeObject* calendar_type();

struct CalendarArg {
    dates::Calendar calendar;
    // Declared defaults are known names ("weekends").
    static CalendarArg from_default_text(std::string_view name) { return {dates::Calendar::parse(name).value()}; }
};

// A Calendar instance (copied) or a str parsed as market names joined by '+';
// TypeError for anything else, ValueError for an unknown name.
bool from_py(PyObject* o, CalendarArg& out);
PyObject* wrap_calendar(const dates::Calendar& cal);

template <>
struct Annotation<CalendarArg> {
    static const char* param() { return "Calendar | str"; }
};

}  // namespace quelm::py

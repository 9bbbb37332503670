// Dates across the boundary: datetime.date, datetime.datetime (its date), pandas'
// Timestamp, numpy.datetime64 and "YYYY-MM-DD" text in; datetime.date out. The core
// sees a date serial (days since 1970-01-01).
#pragma once

#include "frame/annotations.hpp"
#include "frame/ref.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace quelm::py {

struct Date {
    std::int32_t serial = 0;
};

// A wrong type raises TypeError; a date that does not exist (or NaT) ValueError naming it.
bool from_py(PyObject* o, Date& out);
// A sequence of dates (a str is not one).
bool from_py(PyObject* o, std::vector<Date>& out);
// A new datetime.date.
PyObject* to_py_date(std::int32_t serial);
// A new list of datetime.date.
PyObject* to_py_dates(const std::vector<std::int32_t>& serials);
// "YYYY-MM-DD" of a date object (the conversion above), for functions that read ISO text.
bool iso_text(PyObject* o, std::string& out);

// One element of an array of dates: a date (`serial` set: a date object, a datetime's or a
// Timestamp's date, numpy.datetime64 or ISO text), a missing one (None, NaT, pandas' NA or a
// float NaN), text or a datetime64 that is no date (`message`: the scalar call's ValueError),
// any other type (nothing raised), or a failure with an exception set.
enum class DateItem : unsigned char { Date, Missing, Rejected, Other, Failed };
DateItem date_item(PyObject* o, std::int32_t& serial, std::string& message);
// ISO text as date_item reads it (Date or Rejected).
DateItem date_text(std::string_view text, std::int32_t& serial, std::string& message);

template <>
struct Annotation<Date> {
    static const char* param() { return "DateLike"; }
};
template <>
struct Annotation<std::vector<Date>> {
    static const char* param() { return "_ArrayLike[DateLike]"; }
};

}  // namespace quelm::py

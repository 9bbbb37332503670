// An argument that is a date (a datetime.date, ISO text) or a tenor ("5Y"), as trades take
// their start and end dates.
#pragma once

#include <variant>

#include "frame/dates.hpp"
#include "quelm/dates/tenor.hpp"

namespace quelm::py {

// `name` and `tenor_kind` ("tenor", "forward tenor") word the errors, `example` ("5Y") the
// tenor shown in them. A Python error is set when false.
bool date_or_tenor(PyObject* o, std::variant<dates::Serial, dates::Tenor>& out, const char* name,
                   const char* tenor_kind, const char* example);

}  // namespace quelm::py

#include "frame/dates.hpp"

#include <datetime.h>

#include <cmath>
#include <cstring>
#include <string>

#include "frame/args.hpp"
#include "quelm/core/text.hpp"
#include "quelm/dates/serial.hpp"

namespace quelm::py {

namespace {

// The datetime C API, imported at first use (the module lives for the whole process).
bool datetime_api() {
    if (PyDateTimeAPI == nullptr) PyDateTime_IMPORT;
    return PyDateTimeAPI != nullptr;
}

bool from_civil(int y, int m, int d, Date& out) {
    auto s = dates::make_date(y, static_cast<unsigned>(m), static_cast<unsigned>(d));
    if (!s) {
        PyErr_Format(PyExc_ValueError, "no such date %d-%02d-%02d (%s)", y, m, d, s.error().render().c_str());
        return false;
    }
    out.serial = *s;
    return true;
}

bool from_text(PyObject* o, Date& out) {
    Py_ssize_t n = 0;
    const char* text = PyUnicode_AsUTF8AndSize(o, &n);
    if (text == nullptr) return false;
    std::string message;
    if (date_text(std::string_view(text, static_cast<std::size_t>(n)), out.serial, message) != DateItem::Date) {
        PyErr_SetString(PyExc_ValueError, message.c_str());
        return false;
    }
    return true;
}

// numpy.datetime64, recognised by its type name (the frame never imports NumPy): its
// value at day resolution, then .item() gives a datetime.date (None for NaT, an int
// outside the years 1..9999).
DateItem datetime64_item(PyObject* o, std::int32_t& serial, std::string& message) {
    Ref days(PyObject_CallMethod(o, "astype", "s", "datetime64[D]"));
    if (!days) return DateItem::Failed;
    Ref item(PyObject_CallMethod(days.get(), "item", nullptr));
    if (!item) return DateItem::Failed;
    if (item.get() == Py_None) return DateItem::Missing;
    if (!PyDate_Check(item.get())) {
        Ref text(PyObject_Str(o));
        if (!text) return DateItem::Failed;
        const char* utf8 = PyUnicode_AsUTF8(text.get());
        if (utf8 == nullptr) return DateItem::Failed;
        message = std::string("no such date ") + utf8 + " (outside 0001-01-01..9999-12-31)";
        return DateItem::Rejected;
    }
    Date d;
    if (!from_civil(PyDateTime_GET_YEAR(item.get()), PyDateTime_GET_MONTH(item.get()), PyDateTime_GET_DAY(item.get()),
                    d))
        return DateItem::Failed;
    serial = d.serial;
    return DateItem::Date;
}

bool from_datetime64(PyObject* o, Date& out) {
    std::string message;
    switch (datetime64_item(o, out.serial, message)) {
        case DateItem::Date: return true;
        case DateItem::Missing: PyErr_SetString(PyExc_ValueError, "NaT is not a date"); return false;
        case DateItem::Rejected: PyErr_SetString(PyExc_ValueError, message.c_str()); return false;
        default: return false;
    }
}

}  // namespace

bool from_py(PyObject* o, Date& out) {
    if (!datetime_api()) return false;
    if (PyUnicode_Check(o)) return from_text(o, out);
    const char* name = Py_TYPE(o)->tp_name;
    // pandas' NaT is a datetime subclass too, with no date behind it.
    if (std::strstr(name, "NaTType") != nullptr) {
        PyErr_SetString(PyExc_ValueError, "NaT is not a date");
        return false;
    }
    // datetime is a subclass of date, and pandas.Timestamp of datetime: the date part.
    if (PyDate_Check(o))
        return from_civil(PyDateTime_GET_YEAR(o), PyDateTime_GET_MONTH(o), PyDateTime_GET_DAY(o), out);
    if (std::strcmp(name, "numpy.datetime64") == 0) return from_datetime64(o, out);
    PyErr_Format(PyExc_TypeError, "expected a date (datetime.date, numpy.datetime64, pandas.Timestamp or 'YYYY-MM-DD'), got %s",
                 name);
    return false;
}

DateItem date_text(std::string_view text, std::int32_t& serial, std::string& message) {
    const auto parsed = dates::parse_iso(text);
    if (parsed) {
        serial = *parsed;
        return DateItem::Date;
    }
    const std::string quoted = quote_literal(text);
    const std::string& why = parsed.error();
    // The format message already shows the text; the others get it added.
    message = why.find(quoted) != std::string::npos ? why : "no such date " + quoted + " (" + why + ")";
    return DateItem::Rejected;
}

DateItem date_item(PyObject* o, std::int32_t& serial, std::string& message) {
    if (!datetime_api()) return DateItem::Failed;
    if (PyUnicode_Check(o)) {
        Py_ssize_t n = 0;
        const char* text = PyUnicode_AsUTF8AndSize(o, &n);
        if (text == nullptr) return DateItem::Failed;
        return date_text(std::string_view(text, static_cast<std::size_t>(n)), serial, message);
    }
    const char* name = Py_TYPE(o)->tp_name;
    if (o == Py_None || std::strstr(name, "NaTType") != nullptr || std::strcmp(name, "NAType") == 0 ||
        (PyFloat_Check(o) && std::isnan(PyFloat_AS_DOUBLE(o))))
        return DateItem::Missing;
    if (PyDate_Check(o)) {
        serial = dates::serial_of(PyDateTime_GET_YEAR(o), static_cast<unsigned>(PyDateTime_GET_MONTH(o)),
                                  static_cast<unsigned>(PyDateTime_GET_DAY(o)));
        return DateItem::Date;
    }
    if (std::strcmp(name, "numpy.datetime64") == 0) return datetime64_item(o, serial, message);
    return DateItem::Other;
}

bool from_py(PyObject* o, std::vector<Date>& out) {
    if (!check_sequence(o, "a sequence of dates")) return false;
    Ref seq(PySequence_Fast(o, "expected a sequence of dates"));
    if (!seq) return false;
    const Py_ssize_t n = PySequence_Fast_GET_SIZE(seq.get());
    out.resize(static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
        if (!from_py(PySequence_Fast_GET_ITEM(seq.get(), i), out[static_cast<std::size_t>(i)])) return false;
    }
    return true;
}

PyObject* to_py_date(std::int32_t serial) {
    if (!datetime_api()) return nullptr;
    const dates::Civil c = dates::civil_of(serial);
    return PyDate_FromDate(c.year, static_cast<int>(c.month), static_cast<int>(c.day));
}

PyObject* to_py_dates(const std::vector<std::int32_t>& serials) {
    Ref list(PyList_New(static_cast<Py_ssize_t>(serials.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < serials.size(); ++i) {
        PyObject* d = to_py_date(serials[i]);
        if (d == nullptr) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), d);
    }
    return list.release();
}

bool iso_text(PyObject* o, std::string& out) {
    Date d;
    if (!from_py(o, d)) return false;
    out = dates::format_iso(d.serial);
    return true;
}

}  // namespace quelm::py

#include "bindings/dates/date_or_tenor.hpp"

#include <string>
#include <string_view>

#include "quelm/core/text.hpp"

namespace quelm::py {

bool date_or_tenor(PyObject* o, std::variant<dates::Serial, dates::Tenor>& out, const char* name,
                   const char* tenor_kind, const char* example) {
    if (PyUnicode_Check(o)) {
        Py_ssize_t n = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(o, &n);
        if (utf8 == nullptr) return false;
        const std::string_view text(utf8, static_cast<std::size_t>(n));
        if (auto t = dates::parse_tenor(text)) {
            out = *t;
            return true;
        }
        std::string message;
        if (date_text(text, out.emplace<dates::Serial>(), message) == DateItem::Date) return true;
        // Text shaped like a date gets the date's own message (no such day, month).
        if (text.size() < 8 || text.find('-') == std::string_view::npos)
            message = std::string(name) + " must be a date ('YYYY-MM-DD') or a " + tenor_kind + " (as in " + example +
                      "), got " + quote_literal(text);
        PyErr_SetString(PyExc_ValueError, message.c_str());
        return false;
    }
    Date d;
    if (from_py(o, d)) {
        out = d.serial;
        return true;
    }
    if (PyErr_ExceptionMatches(PyExc_TypeError)) {
        PyErr_Clear();
        PyErr_Format(PyExc_TypeError, "expected a date or a %s such as '%s', got %s", tenor_kind, example,
                     Py_TYPE(o)->tp_name);
    }
    return false;
}

}  // namespace quelm::py

// What the Python classes of a book's market trades share: reading a curve (or surface) name
// a trade may leave unset, showing it back, and pickling by keywords.
#pragma once

#include "frame/classes.hpp"
#include "quelm/book/market_trade.hpp"
#include "quelm/core/error.hpp"

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace quelm::py {

// None is "" (the market's default); an empty name is an error.
[[nodiscard]] Result<std::string> curve_name(const std::optional<std::string_view>& name);

// "" shows as None.
PyObject* text_py(const std::string& s);

// (functools.partial(type, **keywords), args); steals args and each keyword's value.
PyObject* reduce_with(PyTypeObject* type, PyObject* args, std::initializer_list<std::pair<const char*, PyObject*>> kw);

}  // namespace quelm::py

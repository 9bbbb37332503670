// Reading a chain's option types: None (every quote a call), one option type for every quote,
// or a sequence of option types, one per quote.
#pragma once

#include <Python.h>

#include <optional>
#include <vector>

#include "quelm/pricing/option.hpp"

namespace quelm::py {

// False with a Python error set; `out` holds one entry (for every quote) or one per item.
[[nodiscard]] bool option_types_from(const std::optional<PyObject*>& given, std::vector<OptionType>& out);

}  // namespace quelm::py

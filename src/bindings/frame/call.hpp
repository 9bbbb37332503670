// The call frame: one table-driven argument parser for every function and method.
// A callable is declared once (signature.hpp): its parameter table gives the names,
// the required count and the defaults, and the docstring's text signature line
// ("name(a, b, c=1.0)" or "name($self, x)") is written from the same table.
#pragma once

#include "bindings/frame/signature.hpp"

namespace quelm::py {

// Build a PyMethodDef for def (the def must outlive the process). owner is the class
// name, or nullptr for a module function. Returns nullptr with an exception set when
// the table of call slots is exhausted.
[[nodiscard]] PyMethodDef* make_method(const FunctionDef& def, const char* owner, int extra_flags);

// The text signature line and description, as the docstring shows them.
[[nodiscard]] std::string docstring(const FunctionDef& def);

}  // namespace quelm::py

// The call frame: one table-driven argument parser for every function and method.
// A callable is declared once by its docstring, whose first line is the text
// signature ("name(a, b, c=1.0)" or "name($self, x)"); parameter names and the
// required count are read from it, so the signature is written in one place.
#pragma once

#include "bindings/frame/ref.hpp"

#include <cstddef>
#include <string>
#include <vector>

namespace quelm::py {

class Args;
using Impl = PyObject* (*)(Args&);

struct FunctionDef {
    const char* doc;  // "name(signature)\n--\n\ndescription"
    Impl impl;
};

// What the parser knows of one callable, read from its docstring.
struct Signature {
    std::string name;      // "discount"
    std::string qualname;  // "YieldCurve.discount" for methods, else the name
    bool has_self = false; // "$self" first: an instance method
    std::vector<std::string> params;
    std::vector<Ref> interned;  // the parameter names as interned str
    std::size_t n_required = 0;
};

// Parse the text signature at the head of doc. owner is the class name or empty.
[[nodiscard]] Signature parse_signature(const char* doc, const char* owner);

// Build a PyMethodDef for def (the def must outlive the process). Returns
// nullptr with an exception set when the table of call slots is exhausted.
[[nodiscard]] PyMethodDef* make_method(const FunctionDef& def, const char* owner, int extra_flags);

// The largest number of parameters a callable may declare.
inline constexpr std::size_t kMaxParams = 20;

}  // namespace quelm::py

// quelm.vec functions whose bodies are Python: a path set viewed as an ndarray, portfolio
// calls over labelled pandas panels, the SIMD width. Each is declared here like every other
// public function (name, parameter table, stub types, result type, docstring, result keys),
// and that declaration is its one source: quelm.vec writes the function's signature and
// docstring from it around the Python body, and tools/stubgen.py its stub.
//
//   constexpr vec::PythonForm def_vec_covariance_matrix =
//       vec::in_python("covariance_matrix", {"returns", {"axis", "0"}}, "The population ...")
//           .typed({"Any", "int"})
//           .returning("Any");
//   QUELM_VEC_IN_PYTHON(def_vec_covariance_matrix);
#pragma once

#include "frame/registry.hpp"
#include "frame/result.hpp"
#include "frame/signature.hpp"

#include <array>
#include <initializer_list>
#include <string_view>
#include <vector>

namespace quelm::py::vec {

struct PythonForm {
    // The name, the parameter table (defaults as Python reads them) and the docstring; the
    // stub types where a compiled declaration the form was made from derived them.
    FunctionDef def;
    std::array<const char*, kMaxParams> types{};  // stub types written out, in table order
    const char* returns = nullptr;                // the result's stub type
    RecordInfo (*keys)() = nullptr;               // the record whose keys the result has, if any

    // Each parameter's stub type, written out (one per parameter).
    [[nodiscard]] consteval PythonForm typed(std::initializer_list<const char*> annotations) const {
        if (annotations.size() != def.n_params) throw "typed() needs one type per parameter";
        PythonForm f = *this;
        std::size_t i = 0;
        for (const char* a : annotations) f.types[i++] = a;
        return f;
    }
    [[nodiscard]] consteval PythonForm returning(const char* annotation) const {
        PythonForm f = *this;
        f.returns = annotation;
        return f;
    }
    // A parameter of the table with another default (as the text signature shows it).
    [[nodiscard]] consteval PythonForm defaulting(std::string_view name, const char* shown) const {
        PythonForm f = *this;
        for (std::size_t i = 0; i < f.def.n_params; ++i) {
            if (std::string_view(f.def.params[i].name) != name) continue;
            if (f.def.params[i].required()) throw "defaulting() would give a required parameter a default";
            f.def.params[i].shown = shown;
            f.def.params[i].value = nullptr;
            return f;
        }
        throw "defaulting() names an unknown parameter";
    }
    // The result is keyed as the record of R (a dict, or pandas labelled by those keys).
    template <HasRecord R>
    [[nodiscard]] consteval PythonForm keyed() const {
        PythonForm f = *this;
        f.keys = &record_info<R>;
        return f;
    }
};

// A form whose parameters are Python values, typed with typed().
consteval PythonForm in_python(const char* name, const ParamList& params, const char* doc) {
    return {py::detail::describe_table(name, params, doc)};
}

// A form taking the parameters of a compiled declaration: their names, defaults, keyword-only
// marker and stub types (its body passes them on to a compiled call over the same table).
consteval PythonForm in_python(const FunctionDef& like, const char* name, const char* doc) {
    FunctionDef def = py::detail::describe_table(name, {}, doc);
    def.params = like.params;
    def.n_params = like.n_params;
    def.n_positional = like.n_positional;
    def.n_required = like.n_required;
    def.annotations = like.annotations;
    return {def};
}

// Every form written in Python, in registration order: by section, then by place in the
// source (after the array forms, in quelm.vec's order).
[[nodiscard]] std::vector<const PythonForm*> python_forms();

struct InPython {
    InPython(Section s, std::string_view file, int line, const PythonForm& form);
};

// Registers a form written in Python in this file's section, `kSection`, at this line.
#define QUELM_VEC_IN_PYTHON(form) \
    static const ::quelm::py::vec::InPython QUELM_CONCAT(in_python_at_, __LINE__)(kSection, __FILE__, __LINE__, form)

// quelm._core._vec_python(): each form as plain data, {"name", "params": [{"name",
// "annotation", "default", "keyword_only"}], "returns", "doc", "keys"}.
PyObject* describe_python_forms();

}  // namespace quelm::py::vec

// Private attributes of quelm._core: the machinery quelm.vec and tools/stubgen.py use.
#include "bindings/frame/arrays.hpp"
#include "bindings/frame/describe.hpp"
#include "bindings/frame/registry.hpp"

namespace quelm::py {

namespace {

constexpr Section kSection = Section::Private;

constexpr FunctionDef def_vec_call = function<vec::vec_call>(
    "_vec_call", {"form", "context", "args", "nan_mode", "skip_nan"},
    "Run an array form over its arguments (quelm.vec's functions call this).");
QUELM_PUBLIC(def_vec_call);

constexpr FunctionDef def_vec_forms = function<vec::vec_forms>(
    "_vec_forms", {}, "The array forms, as quelm.vec writes its functions from them.");
QUELM_PUBLIC(def_vec_forms);

constexpr FunctionDef def_categorical = function<vec::categorical>(
    "_categorical", {"codes", "categories"},
    "A coded string column (integer codes into categories, -1 missing) for an array call.");
QUELM_PUBLIC(def_categorical);

constexpr FunctionDef def_declarations = function<declarations>(
    "_declarations", {}, "Every public declaration as plain data: names in order, records, string options.");
QUELM_PUBLIC(def_declarations);

}  // namespace

}  // namespace quelm::py

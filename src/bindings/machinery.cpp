// Private attributes of quelm._core: the machinery quelm.vec and tools/stubgen.py use.
#include "frame/arrays.hpp"
#include "frame/describe.hpp"
#include "frame/registry.hpp"
#include "frame/vec_python.hpp"
#include "quelm/core/memory.hpp"

#include <string>
#include <string_view>

namespace quelm::py {

namespace {

constexpr Section kSection = Section::Private;
constexpr std::string_view kGuide = "";  // the guide page of its names

constexpr FunctionDef def_vec_call = function<vec::vec_call>(
    "_vec_call", {"form", "context", "args", "nan_mode", "skip_nan"},
    "Run an array form over its arguments (quelm.vec's functions call this).");
QUELM_PUBLIC(def_vec_call);

constexpr FunctionDef def_vec_forms = function<vec::vec_forms>(
    "_vec_forms", {}, "The array forms, as quelm.vec writes its functions from them.");
QUELM_PUBLIC(def_vec_forms);

constexpr FunctionDef def_vec_python = function<vec::describe_python_forms>(
    "_vec_python", {}, "The quelm.vec functions whose bodies are Python: their declarations, as quelm.vec writes "
                       "their signatures and tools/stubgen.py their stubs.");
QUELM_PUBLIC(def_vec_python);

constexpr FunctionDef def_categorical = function<vec::categorical>(
    "_categorical", {"codes", "categories"},
    "A coded string column (integer codes into categories, -1 missing) for an array call.");
QUELM_PUBLIC(def_categorical);

constexpr FunctionDef def_arrow_text = function<vec::arrow_text>(
    "_arrow_text", {"offsets", "data"},
    "An Arrow string column without missing values (its offsets and bytes) for an array call.");
QUELM_PUBLIC(def_arrow_text);

// MemoryError unless n doubles for `what` fit in the memory the process can still get.
PyObject* check_memory(double n, std::string_view what) {
    const std::string label(what);
    const Status s = check_fits_in_memory(doubles_bytes(n), label.c_str());
    if (!s) return raise(s.error());
    return none();
}

constexpr FunctionDef def_check_memory = function<check_memory>(
    "_check_memory", {"n", "what"}, "Raise MemoryError unless n doubles for `what` can be allocated.");
QUELM_PUBLIC(def_check_memory);

constexpr FunctionDef def_declarations = function<declarations>(
    "_declarations", {}, "Every public declaration as plain data: names in order, records, string options.");
QUELM_PUBLIC(def_declarations);

}  // namespace

}  // namespace quelm::py

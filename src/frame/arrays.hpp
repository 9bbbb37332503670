// quelm.vec's one crossing into C: a call of a declaration's array form. The arguments
// (scalars, anything with a buffer, sequences, object arrays, coded string columns) become
// the operands of one grid: numbers read in place or converted once, string options coded
// one byte per element (a rejected or missing string fails its element only), everything
// broadcast together, the outputs allocated after a memory check, the elements run on the
// pool without the lock. An element's failure raises quelm.ElementError naming its index.
#pragma once

#include "frame/declare.hpp"

#include <vector>

namespace quelm::py::vec {

// quelm.ElementError: a ValueError with .index (a tuple) and .message (the scalar call's).
PyObject* element_error_type();

// Every declaration with an array form, in public order: functions, then class methods.
// Their position is the form's index in quelm.vec's calls.
[[nodiscard]] const std::vector<const FunctionDef*>& forms();

// Records the declarations of a module's functions and classes as they are made.
void add_form(const FunctionDef& def);

// A date twin: an array form with the vec name, context and parameters of another, taking
// dates where the other takes times in years. quelm.vec writes one function for the two and
// calls the twin when those arguments are dates. It is listed right after its primary.
void add_twin(const FunctionDef& def);
struct Twin {
    explicit Twin(const FunctionDef& def) { add_twin(def); }
};
#define QUELM_VEC_DATE_TWIN(def) static const ::quelm::py::vec::Twin QUELM_CONCAT(twin_at_, __LINE__)(def)

// The functions quelm.vec is written over (private attributes of quelm._core):
// the call of array form `form` over its arguments in declaration order;
PyObject* vec_call(std::uint64_t form, PyObject* context, PyObject* args, std::uint64_t nan_mode,
                   std::uint64_t skip_nan);
// the forms, as quelm.vec writes its functions from them;
PyObject* vec_forms();
// a coded string column: integer codes into categories (-1 missing), for an array call.
PyObject* categorical(PyObject* codes, PyObject* categories);
// an Arrow string column without missing values (its offsets and bytes), for an array call.
PyObject* arrow_text(PyObject* offsets, PyObject* data);

}  // namespace quelm::py::vec

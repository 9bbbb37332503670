// quelm._core._declarations(): every public declaration as plain data, for the script that
// writes the stubs (tools/stubgen.py) and for the tests that walk the public names.
#pragma once

#include "frame/ref.hpp"

namespace quelm::py {

// {"names": [each public name in order, with its parameters and types], "records": [...],
// "options": [...]}; nullptr with an exception on failure.
PyObject* declarations();

}  // namespace quelm::py

// String option operands of an array call: one string for every element, or a column (a
// NumPy str or object array, a list, a categorical, an Arrow string column) coded one byte
// per element, its few distinct values parsed once; a long column may instead be coded
// block by block as the call runs (CodeReader).
#pragma once

#include "frame/buffers.hpp"
#include "frame/grid.hpp"
#include "quelm/core/error.hpp"

#include <string>
#include <string_view>
#include <vector>

namespace quelm::py::vec {

// A string option's parser: the text's code, or false with the message of its rejection.
using CodeOf = bool (*)(std::string_view, unsigned char&, std::string&);

// A string option operand: one string for every element, or a column (a NumPy str or object
// array, a list, a categorical, an Arrow string column), coded one byte per element. With a
// reader, a long column may be left in place for the call to code as it runs (reader->read
// set); without, or when the column does not suit, its codes are made here.
bool read_codes(PyObject* o, const char* name, CodeOf code, std::vector<Error>& rejected, Owned& owned, Operand& op,
                CodeReader* reader, bool converted = false);

}  // namespace quelm::py::vec

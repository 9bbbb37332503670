// Test-only module registry: each file of src/testing registers its functions
// with a static Register object; the module adds them all at import.
#pragma once

#include "bindings/frame/call.hpp"
#include "bindings/frame/result.hpp"

#include <vector>

namespace quelm::testing {

std::vector<const py::FunctionDef*>& registry();

struct Register {
    explicit Register(const py::FunctionDef& def) { registry().push_back(&def); }
};

}  // namespace quelm::testing

// Test-only module registry: each file of src/testing registers its functions
// with a static Register object; the module adds them all at import.
#pragma once

#include "frame/call.hpp"
#include "frame/result.hpp"

#include <vector>

namespace quelm::testing {

std::vector<const py::Callable*>& registry();

struct Register {
    explicit Register(const py::Callable& c) { registry().push_back(&c); }
};

// Registers a test-only function (a constexpr FunctionDef) with the test module.
#define QUELM_TESTING(def) \
    const ::quelm::testing::Register QUELM_CONCAT(testing_registered_, __LINE__)(::quelm::py::callable<def>)

}  // namespace quelm::testing

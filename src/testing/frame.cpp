// Echo functions that expose the frame's argument conversions to the tests.
#include "testing/registry.hpp"

namespace quelm::testing {

namespace {

PyObject* echo_floats(const py::FloatSeq& values) {
    return py::to_py(values.view());
}

PyObject* echo_matrix(const py::FloatMatrix& m) {
    return py::to_py(m.to_vectors());
}

PyObject* echo_u64(std::uint64_t n) {
    return py::to_py(n);
}

PyObject* echo_u32(py::U32 n) {
    return py::to_py(static_cast<std::uint64_t>(n.value));
}

PyObject* format_number(double x) {
    return py::to_py(quelm::format_number(x));
}

// Keyword-only parameters, required and defaulted, after a defaulted positional one.
PyObject* keyword_only(double a, double b, double c, double d) {
    return py::to_py(std::vector<double>{a, b, c, d});
}

constexpr py::FunctionDef def_keyword_only = py::function<keyword_only>(
    "keyword_only", {"a", {"b", "1.0"}, "*", "c", {"d", "2.0"}}, "Echo a, b and the keyword-only c, d.");
QUELM_TESTING(def_keyword_only);

// The same table joined from a shared head and a tail that holds the keyword-only marker:
// the join keeps each default and the marker's place, and operands are found by name with
// the marker not counted.
constexpr py::ParamList kHead{"a", {"b", "1.0"}};
constexpr py::ParamList kJoined = kHead + py::ParamList{"*", "c", {"d", "2.0"}};
static_assert(kJoined.size() == 5 && kJoined.n_operands() == 4);
static_assert(kJoined.operand("a") == 0 && kJoined.operand("b") == 1 && kJoined.operand("c") == 2 &&
              kJoined.operand("d") == 3);
constexpr py::FunctionDef def_keyword_only_joined = py::function<keyword_only>(
    "keyword_only_joined", kJoined, "Echo a, b and the keyword-only c, d.");
QUELM_TESTING(def_keyword_only_joined);

constexpr py::FunctionDef def_echo_floats = py::function<echo_floats>(
    "echo_floats", {"values"}, "Convert a float sequence and return it as a list.");
constexpr py::FunctionDef def_echo_matrix = py::function<echo_matrix>(
    "echo_matrix", {"rows"}, "Convert a nested float sequence.");
constexpr py::FunctionDef def_echo_u64 = py::function<echo_u64>("echo_u64", {"n"}, "Convert an unsigned 64-bit count.");
constexpr py::FunctionDef def_echo_u32 = py::function<echo_u32>("echo_u32", {"n"}, "Convert an unsigned 32-bit count.");
constexpr py::FunctionDef def_format_number = py::function<format_number>(
    "format_number", {"x"}, "Shortest positional decimal of x.");
Register r1(py::callable<def_echo_floats>), r2(py::callable<def_echo_matrix>), r3(py::callable<def_echo_u64>), r4(py::callable<def_echo_u32>), r5(py::callable<def_format_number>);

}  // namespace

}  // namespace quelm::testing

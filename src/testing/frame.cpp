// Echo functions that expose the frame's argument conversions to the tests.
#include "testing/registry.hpp"

namespace quelm::testing {

namespace {

using py::Args;

PyObject* echo_floats(Args& a) {
    py::FloatSeq values;
    if (!a.all(values)) return nullptr;
    return py::to_py(values.view());
}

PyObject* echo_matrix(Args& a) {
    py::FloatMatrix m;
    if (!a.all(m)) return nullptr;
    return py::to_py(m.to_vectors());
}

PyObject* echo_u64(Args& a) {
    std::uint64_t n = 0;
    if (!a.all(n)) return nullptr;
    return py::to_py(n);
}

PyObject* echo_u32(Args& a) {
    py::U32 n;
    if (!a.all(n)) return nullptr;
    return py::to_py(static_cast<std::uint64_t>(n.value));
}

PyObject* format_number(Args& a) {
    double x = 0.0;
    if (!a.all(x)) return nullptr;
    return py::to_py(quelm::format_number(x));
}

const py::FunctionDef def_echo_floats = {"echo_floats(values)\n--\n\nConvert a float sequence and return it as a list.", &echo_floats};
const py::FunctionDef def_echo_matrix = {"echo_matrix(rows)\n--\n\nConvert a nested float sequence.", &echo_matrix};
const py::FunctionDef def_echo_u64 = {"echo_u64(n)\n--\n\nConvert an unsigned 64-bit count.", &echo_u64};
const py::FunctionDef def_echo_u32 = {"echo_u32(n)\n--\n\nConvert an unsigned 32-bit count.", &echo_u32};
const py::FunctionDef def_format_number = {"format_number(x)\n--\n\nShortest positional decimal of x.", &format_number};
Register r1(def_echo_floats);
Register r2(def_echo_matrix);
Register r3(def_echo_u64);
Register r4(def_echo_u32);
Register r5(def_format_number);

}  // namespace

}  // namespace quelm::testing

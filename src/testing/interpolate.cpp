// Test hooks for interpolation: node checks, linear interpolation, the natural
// cubic spline (values and second derivatives) and the mode parser.
#include "testing/registry.hpp"

#include <vector>

#include "quelm/core/math/interpolate.hpp"

namespace quelm::testing {

namespace {

PyObject* validate_nodes_fn(const py::FloatSeq& xs, const py::FloatSeq& ys) {
    const Status s = validate_nodes(xs.view(), ys.view());
    if (!s) return py::raise(s.error());
    return py::none();
}

PyObject* linear_interpolate_fn(const py::FloatSeq& xs, const py::FloatSeq& ys, double x) {
    return py::finish(linear_interpolate(xs.view(), ys.view(), x));
}

PyObject* spline_eval_fn(const py::FloatSeq& xs, const py::FloatSeq& ys, const py::FloatSeq& points) {
    const auto spline = NaturalCubicSpline::create(xs.view(), ys.view());
    if (!spline) return py::raise(spline.error());
    std::vector<double> out;
    for (double x : points.view()) {
        const auto v = spline->eval(x);
        if (!v) return py::raise(v.error());
        out.push_back(*v);
    }
    return py::to_py(out);
}

PyObject* spline_second_derivatives_fn(const py::FloatSeq& xs, const py::FloatSeq& ys) {
    const auto spline = NaturalCubicSpline::create(xs.view(), ys.view());
    if (!spline) return py::raise(spline.error());
    return py::to_py(spline->second_derivatives());
}

PyObject* parse_interp_fn(const std::string& text) {
    Interp mode;
    if (!py::choose(kInterps, text, mode)) return nullptr;
    return py::to_py(std::string(interp_name(mode)));
}

constexpr py::FunctionDef def_validate_nodes = py::function<validate_nodes_fn>(
    "validate_nodes", {"xs", "ys"}, "None, or ValueError.");
constexpr py::FunctionDef def_linear_interpolate = py::function<linear_interpolate_fn>(
    "linear_interpolate", {"xs", "ys", "x"}, "Piecewise-linear value at x.");
constexpr py::FunctionDef def_spline_eval = py::function<spline_eval_fn>(
    "spline_eval", {"xs", "ys", "points"}, "Natural cubic spline values at points.");
constexpr py::FunctionDef def_spline_m = py::function<spline_second_derivatives_fn>(
    "spline_second_derivatives", {"xs", "ys"}, "Second derivatives of the natural cubic spline at the nodes.");
constexpr py::FunctionDef def_parse_interp = py::function<parse_interp_fn>(
    "parse_interp", {"text"}, "Canonical mode name.");
Register r1(py::callable<def_validate_nodes>), r2(py::callable<def_linear_interpolate>), r3(py::callable<def_spline_eval>),
    r4(py::callable<def_spline_m>), r5(py::callable<def_parse_interp>);

}  // namespace

}  // namespace quelm::testing

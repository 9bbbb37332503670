// Test hooks for interpolation: node checks, linear interpolation, the natural
// cubic spline (values and second derivatives) and the mode parser.
#include "testing/registry.hpp"

#include <vector>

#include "quelm/core/math/interpolate.hpp"

namespace quelm::testing {

namespace {

using py::Args;

PyObject* validate_nodes_fn(Args& a) {
    py::FloatSeq xs, ys;
    if (!a.all(xs, ys)) return nullptr;
    const Status s = validate_nodes(xs.view(), ys.view());
    if (!s) return py::raise(s.error());
    return py::none();
}

PyObject* linear_interpolate_fn(Args& a) {
    py::FloatSeq xs, ys;
    double x;
    if (!a.all(xs, ys, x)) return nullptr;
    return py::finish(linear_interpolate(xs.view(), ys.view(), x));
}

PyObject* spline_eval_fn(Args& a) {
    py::FloatSeq xs, ys, points;
    if (!a.all(xs, ys, points)) return nullptr;
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

PyObject* spline_second_derivatives_fn(Args& a) {
    py::FloatSeq xs, ys;
    if (!a.all(xs, ys)) return nullptr;
    const auto spline = NaturalCubicSpline::create(xs.view(), ys.view());
    if (!spline) return py::raise(spline.error());
    return py::to_py(spline->second_derivatives());
}

PyObject* parse_interp_fn(Args& a) {
    std::string text;
    if (!a.all(text)) return nullptr;
    Interp mode;
    if (!py::parsed(parse_interp(text), mode)) return nullptr;
    return py::to_py(std::string(interp_name(mode)));
}

const py::FunctionDef def_validate_nodes = {"validate_nodes(xs, ys)\n--\n\nNone, or ValueError.", &validate_nodes_fn};
const py::FunctionDef def_linear_interpolate = {"linear_interpolate(xs, ys, x)\n--\n\nPiecewise-linear value at x.",
                                                &linear_interpolate_fn};
const py::FunctionDef def_spline_eval = {"spline_eval(xs, ys, points)\n--\n\nNatural cubic spline values at points.",
                                         &spline_eval_fn};
const py::FunctionDef def_spline_m = {
    "spline_second_derivatives(xs, ys)\n--\n\nSecond derivatives of the natural cubic spline at the nodes.",
    &spline_second_derivatives_fn};
const py::FunctionDef def_parse_interp = {"parse_interp(text)\n--\n\nCanonical mode name.", &parse_interp_fn};
Register r1(def_validate_nodes);
Register r2(def_linear_interpolate);
Register r3(def_spline_eval);
Register r4(def_spline_m);
Register r5(def_parse_interp);

}  // namespace

}  // namespace quelm::testing

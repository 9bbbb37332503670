// Test hooks for the numerical toolkit: distributions, root finders on a few
// fixed functions, linear solves, least squares and sample statistics.
#include "testing/registry.hpp"

#include <cmath>
#include <limits>
#include <utility>

#include "quelm/core/math/distributions.hpp"
#include "quelm/core/math/linalg.hpp"
#include "quelm/core/math/regression.hpp"
#include "quelm/core/math/sample.hpp"
#include "quelm/core/math/solvers.hpp"

namespace quelm::testing {

namespace {

// Fixed test functions by name; unknown names fall back to NaN everywhere.
double eval_fn(const std::string& name, double x) {
    if (name == "cubic") return x * x * x - 2.0 * x - 5.0;
    if (name == "cos_minus_x") return std::cos(x) - x;
    if (name == "identity") return x;
    if (name == "square_plus_one") return x * x + 1.0;
    if (name == "square_minus_two") return x * x - 2.0;
    if (name == "cbrt") return std::cbrt(x);
    if (name == "step") return x < 0.5 ? -1.0 : 1.0;
    return std::numeric_limits<double>::quiet_NaN();
}
double eval_dfn(const std::string& name, double x) {
    if (name == "cubic") return 3.0 * x * x - 2.0;
    if (name == "cos_minus_x") return -std::sin(x) - 1.0;
    if (name == "identity") return 1.0;
    if (name == "square_plus_one") return 2.0 * x;
    if (name == "square_minus_two") return 2.0 * x;
    if (name == "cbrt") return 1.0 / (3.0 * std::cbrt(x * x));
    if (name == "step") return 0.0;
    return 1.0;
}

PyObject* to_root_and_count(const Result<double>& r, std::uint64_t evals) {
    if (!r) return py::raise(r.error());
    py::Ref root(py::to_py(*r));
    if (!root) return nullptr;
    py::Ref count(py::to_py(evals));
    if (!count) return nullptr;
    return PyTuple_Pack(2, root.get(), count.get());
}

PyObject* brent_fn(const std::string& name, double lo, double hi, double tol, py::U32 max_iter) {
    std::uint64_t evals = 0;
    const auto r = brent([&](double x) { ++evals; return eval_fn(name, x); }, lo, hi, tol, max_iter.value);
    return to_root_and_count(r, evals);
}

PyObject* newton_fn(const std::string& name, double x0, double tol, py::U32 max_iter) {
    std::uint64_t evals = 0;
    const auto r = newton([&](double x) { ++evals; return eval_fn(name, x); },
                          [&](double x) { return eval_dfn(name, x); }, x0, tol, max_iter.value);
    return to_root_and_count(r, evals);
}

PyObject* normal_cdf_fn(double x) {
    return py::to_py(normal_cdf(x));
}

PyObject* normal_pdf_fn(double x) {
    return py::to_py(normal_pdf(x));
}

PyObject* normal_quantile_fn(double p) {
    return py::finish(normal_quantile(p));
}

PyObject* vector_result(const Result<std::vector<double>>& r) {
    return py::finish(r, [](const std::vector<double>& v) { return py::to_py(v); });
}

PyObject* gaussian_solve_fn(const py::FloatMatrix& m, std::uint64_t n) {
    auto rows = m.to_vectors();
    // The solver trusts its caller on shape; the hook checks it so tests cannot read past a row.
    if (rows.size() < n) return py::raise_value_error("augmented matrix has fewer rows than n");
    for (std::size_t i = 0; i < n; ++i)
        if (rows[i].size() != n + 1) return py::raise_value_error("augmented rows need n + 1 entries");
    return vector_result(gaussian_solve(std::move(rows), static_cast<std::size_t>(n)));
}

PyObject* solve_linear_system_fn(const py::FloatMatrix& m, const py::FloatSeq& rhs) {
    return vector_result(solve_linear_system(m.rows(), rhs.view()));
}

PyObject* poly_least_squares_fn(const py::FloatSeq& xs, const py::FloatSeq& ys, std::uint64_t degree) {
    return vector_result(poly_least_squares(xs.view(), ys.view(), static_cast<std::size_t>(degree)));
}

PyObject* mean_and_se_fn(const py::FloatSeq& values) {
    const MeanSe m = mean_and_se(values.view());
    return py::to_py_pair(m.mean, m.standard_error);
}

constexpr py::FunctionDef d1 = py::function<brent_fn>(
    "brent_fn", {"name", "a", "b", "tol", "max_iter"}, "Brent on a named test function: (root, evaluations).");
constexpr py::FunctionDef d2 = py::function<newton_fn>(
    "newton_fn", {"name", "x0", "tol", "max_iter"}, "Newton on a named test function: (root, evaluations).");
constexpr py::FunctionDef d3 = py::function<normal_cdf_fn>("normal_cdf", {"x"}, "Standard normal CDF.");
constexpr py::FunctionDef d4 = py::function<normal_pdf_fn>("normal_pdf", {"x"}, "Standard normal density.");
constexpr py::FunctionDef d5 = py::function<normal_quantile_fn>("normal_quantile", {"p"}, "Standard normal quantile.");
constexpr py::FunctionDef d6 = py::function<gaussian_solve_fn>(
    "gaussian_solve", {"augmented", "n"}, "Solve an augmented system.");
constexpr py::FunctionDef d7 = py::function<solve_linear_system_fn>(
    "solve_linear_system", {"matrix", "rhs"}, "Solve matrix * x = rhs.");
constexpr py::FunctionDef d8 = py::function<poly_least_squares_fn>(
    "poly_least_squares", {"xs", "ys", "degree"}, "Polynomial fit, ascending powers.");
constexpr py::FunctionDef d9 = py::function<mean_and_se_fn>(
    "mean_and_se", {"values"}, "Sample mean and standard error.");
Register r1(py::callable<d1>), r2(py::callable<d2>), r3(py::callable<d3>), r4(py::callable<d4>), r5(py::callable<d5>), r6(py::callable<d6>), r7(py::callable<d7>), r8(py::callable<d8>), r9(py::callable<d9>);

}  // namespace

}  // namespace quelm::testing

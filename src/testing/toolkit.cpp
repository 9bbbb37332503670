// Test hooks for the numerical toolkit: distributions, root finders on a few
// fixed functions (the damped Newton on one unknown and on two), linear solves, least
// squares and sample statistics.
#include "testing/registry.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <span>
#include <utility>
#include <vector>

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
    if (name == "atan") return std::atan(x);
    if (name == "log") return std::log(x);
    if (name == "cosh") return std::cosh(x);
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
    if (name == "atan") return 1.0 / (1.0 + x * x);
    if (name == "log") return 1.0 / x;
    if (name == "cosh") return std::sinh(x);
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

const char* status_name(SolveStatus s) {
    switch (s) {
        case SolveStatus::Converged: return "converged";
        case SolveStatus::MaxIterations: return "max_iterations";
        case SolveStatus::Stalled: return "stalled";
        case SolveStatus::NonFinite: return "non_finite";
        case SolveStatus::Singular: return "singular";
    }
    return "?";
}

// (x, status, iterations, residual, evaluations, the x of the last evaluation).
PyObject* damped_newton_fn(const std::string& name, double x0, double tol, py::U32 max_iter, py::U32 max_halvings) {
    unsigned long long evals = 0;
    double last = std::numeric_limits<double>::quiet_NaN();
    const auto f = [&](double x, double& slope) {
        ++evals;
        last = x;
        slope = eval_dfn(name, x);
        return eval_fn(name, x);
    };
    double x = x0;
    const NewtonEnd end = damped_newton(f, x, {.tol = tol, .max_iterations = max_iter.value,
                                               .max_halvings = max_halvings.value});
    return Py_BuildValue("(dsIdKd)", x, status_name(end.status), end.iterations, end.residual, evals, last);
}

// Two-unknown systems by name, with their Jacobians (row-major); NaN outside a domain.
void eval_system(const std::string& name, double x, double y, double f[2], double j[4]) {
    const auto set = [&](double f0, double f1, double j00, double j01, double j10, double j11) {
        f[0] = f0, f[1] = f1, j[0] = j00, j[1] = j01, j[2] = j10, j[3] = j11;
    };
    if (name == "circle") return set(x * x + y * y - 4.0, x - y, 2.0 * x, 2.0 * y, 1.0, -1.0);
    if (name == "atan") return set(std::atan(x), std::atan(y), 1.0 / (1.0 + x * x), 0.0, 0.0, 1.0 / (1.0 + y * y));
    if (name == "log") return set(std::log(x), y - 1.0, 1.0 / x, 0.0, 0.0, 1.0);
    if (name == "cosh") return set(std::cosh(x), y, std::sinh(x), 0.0, 0.0, 1.0);
    if (name == "parallel") return set(x + y - 1.0, 2.0 * x + 2.0 * y - 3.0, 1.0, 1.0, 2.0, 2.0);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    set(nan, nan, nan, nan, nan, nan);
}

// The merit is the largest |F_i|; the step solves J dx = -F at the last point evaluated with
// derivatives by Cramer's rule (none where det J = 0). interrupt_after > 0: the poll says
// "interrupted" on that call.
// (u, status, iterations, residual, evaluations).
PyObject* damped_newton_system_fn(const std::string& name, const py::FloatSeq& u0, double tol, py::U32 max_iter,
                                  py::U32 max_halvings, py::U32 interrupt_after) {
    if (u0.size() != 2) return py::raise_value_error("u0 needs two entries");
    std::vector<double> u = u0.to_vector();
    double f[2], j[4], fd[2] = {}, jd[4] = {};
    unsigned long long evals = 0;
    unsigned polls = 0;
    const auto merit = [&](std::span<const double> at, bool derivatives) -> Result<double> {
        ++evals;
        eval_system(name, at[0], at[1], f, j);
        if (derivatives) std::copy(f, f + 2, fd), std::copy(j, j + 4, jd);
        if (!std::isfinite(f[0]) || !std::isfinite(f[1])) return std::numeric_limits<double>::infinity();
        return std::fmax(std::fabs(f[0]), std::fabs(f[1]));
    };
    const auto step = [&](std::span<double> dx) -> Result<bool> {
        const double det = jd[0] * jd[3] - jd[1] * jd[2];
        if (det == 0.0) return false;
        dx[0] = (-fd[0] * jd[3] + fd[1] * jd[1]) / det;
        dx[1] = (-fd[1] * jd[0] + fd[0] * jd[2]) / det;
        return true;
    };
    const auto interrupted = [&] { return ++polls == interrupt_after.value; };
    const auto end = damped_newton_system(merit, step, interrupted, u,
                                          {.tol = tol, .max_iterations = max_iter.value,
                                           .max_halvings = max_halvings.value});
    if (!end) return py::raise(end.error());
    py::Ref at(py::to_py(u));
    if (!at) return nullptr;
    return Py_BuildValue("(OsIdK)", at.get(), status_name(end->status), end->iterations, end->residual, evals);
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
constexpr py::FunctionDef d10 = py::function<damped_newton_fn>(
    "damped_newton_fn", {"name", "x0", "tol", "max_iter", "max_halvings"},
    "Damped Newton on a named test function: (x, status, iterations, residual, evaluations, last x evaluated).");
constexpr py::FunctionDef d11 = py::function<damped_newton_system_fn>(
    "damped_newton_system_fn", {"name", "u0", "tol", "max_iter", "max_halvings", "interrupt_after"},
    "Damped Newton on a named two-unknown system: (u, status, iterations, residual, evaluations).");
Register r1(py::callable<d1>), r2(py::callable<d2>), r3(py::callable<d3>), r4(py::callable<d4>), r5(py::callable<d5>), r6(py::callable<d6>), r7(py::callable<d7>), r8(py::callable<d8>), r9(py::callable<d9>);
Register r10(py::callable<d10>), r11(py::callable<d11>);

}  // namespace

}  // namespace quelm::testing

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

using py::Args;

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

PyObject* brent_fn(Args& a) {
    std::string name;
    double lo, hi, tol;
    py::U32 max_iter;
    if (!a.all(name, lo, hi, tol, max_iter)) return nullptr;
    std::uint64_t evals = 0;
    const auto r = brent([&](double x) { ++evals; return eval_fn(name, x); }, lo, hi, tol, max_iter.value);
    return to_root_and_count(r, evals);
}

PyObject* newton_fn(Args& a) {
    std::string name;
    double x0, tol;
    py::U32 max_iter;
    if (!a.all(name, x0, tol, max_iter)) return nullptr;
    std::uint64_t evals = 0;
    const auto r = newton([&](double x) { ++evals; return eval_fn(name, x); },
                          [&](double x) { return eval_dfn(name, x); }, x0, tol, max_iter.value);
    return to_root_and_count(r, evals);
}

PyObject* normal_cdf_fn(Args& a) {
    double x;
    if (!a.all(x)) return nullptr;
    return py::to_py(normal_cdf(x));
}

PyObject* normal_pdf_fn(Args& a) {
    double x;
    if (!a.all(x)) return nullptr;
    return py::to_py(normal_pdf(x));
}

PyObject* normal_quantile_fn(Args& a) {
    double p;
    if (!a.all(p)) return nullptr;
    return py::finish(normal_quantile(p));
}

PyObject* vector_result(const Result<std::vector<double>>& r) {
    return py::finish(r, [](const std::vector<double>& v) { return py::to_py(v); });
}

PyObject* gaussian_solve_fn(Args& a) {
    py::FloatMatrix m;
    std::uint64_t n;
    if (!a.all(m, n)) return nullptr;
    auto rows = m.to_vectors();
    // The solver trusts its caller on shape; the hook checks it so tests cannot read past a row.
    if (rows.size() < n) return py::raise_value_error("augmented matrix has fewer rows than n");
    for (std::size_t i = 0; i < n; ++i)
        if (rows[i].size() != n + 1) return py::raise_value_error("augmented rows need n + 1 entries");
    return vector_result(gaussian_solve(std::move(rows), static_cast<std::size_t>(n)));
}

PyObject* solve_linear_system_fn(Args& a) {
    py::FloatMatrix m;
    py::FloatSeq rhs;
    if (!a.all(m, rhs)) return nullptr;
    return vector_result(solve_linear_system(m.rows(), rhs.view()));
}

PyObject* poly_least_squares_fn(Args& a) {
    py::FloatSeq xs, ys;
    std::uint64_t degree;
    if (!a.all(xs, ys, degree)) return nullptr;
    return vector_result(poly_least_squares(xs.view(), ys.view(), static_cast<std::size_t>(degree)));
}

PyObject* mean_and_se_fn(Args& a) {
    py::FloatSeq values;
    if (!a.all(values)) return nullptr;
    const MeanSe m = mean_and_se(values.view());
    return py::to_py_pair(m.mean, m.standard_error);
}

const py::FunctionDef d1 = {"brent_fn(name, a, b, tol, max_iter)\n--\n\nBrent on a named test function: (root, evaluations).", &brent_fn};
const py::FunctionDef d2 = {"newton_fn(name, x0, tol, max_iter)\n--\n\nNewton on a named test function: (root, evaluations).", &newton_fn};
const py::FunctionDef d3 = {"normal_cdf(x)\n--\n\nStandard normal CDF.", &normal_cdf_fn};
const py::FunctionDef d4 = {"normal_pdf(x)\n--\n\nStandard normal density.", &normal_pdf_fn};
const py::FunctionDef d5 = {"normal_quantile(p)\n--\n\nStandard normal quantile.", &normal_quantile_fn};
const py::FunctionDef d6 = {"gaussian_solve(augmented, n)\n--\n\nSolve an augmented system.", &gaussian_solve_fn};
const py::FunctionDef d7 = {"solve_linear_system(matrix, rhs)\n--\n\nSolve matrix * x = rhs.", &solve_linear_system_fn};
const py::FunctionDef d8 = {"poly_least_squares(xs, ys, degree)\n--\n\nPolynomial fit, ascending powers.", &poly_least_squares_fn};
const py::FunctionDef d9 = {"mean_and_se(values)\n--\n\nSample mean and standard error.", &mean_and_se_fn};
Register r1(d1), r2(d2), r3(d3), r4(d4), r5(d5), r6(d6), r7(d7), r8(d8), r9(d9);

}  // namespace

}  // namespace quelm::testing

// Test hook for the Cholesky factor of a principal submatrix kept current as indices leave
// and join: a factor of a starting subset, then a sequence of removals and appends, then
// solves with one and with several right-hand sides, for the tests to hold against a new
// factorisation of the final submatrix.
#include "testing/registry.hpp"

#include <cmath>
#include <vector>

#include "quelm/core/math/subset_cholesky.hpp"

namespace quelm::testing {

namespace {

// steps: i >= 0 appends index i, -(i + 1) removes it. rhs: one row per right-hand side, in
// the final factor order. Returns None when the factor broke down, else rows: the final
// order, the solutions of solve_many, then those of solve one at a time.
PyObject* subset_cholesky_fn(const py::FloatMatrix& matrix, const py::FloatSeq& start, const py::FloatSeq& steps,
                             const py::FloatMatrix& rhs) {
    const std::size_t n = matrix.size();
    std::vector<double> s;
    for (const auto& row : matrix.rows()) {
        if (row.size() != n) return py::raise_value_error("matrix must be square");
        s.insert(s.end(), row.begin(), row.end());
    }
    const auto index = [&](double v) { return static_cast<std::size_t>(v); };
    std::vector<std::size_t> first;
    for (const double v : start.view()) first.push_back(index(v));
    SubsetCholesky f(s, n);
    if (!f.factor(first)) return py::none();
    for (const double v : steps.view()) {
        if (v >= 0.0) {
            if (!f.append(index(v))) return py::none();
        } else {
            f.remove(index(-v - 1.0));
        }
    }
    const std::size_t m = f.subset().size(), count = rhs.size();
    std::vector<std::vector<double>> out(1 + 2 * count);
    for (const std::size_t i : f.subset()) out[0].push_back(static_cast<double>(i));
    std::vector<double> many(m * count);
    for (std::size_t j = 0; j < count; ++j) {
        if (rhs.rows()[j].size() != m) return py::raise_value_error("each right-hand side must match the subset");
        for (std::size_t c = 0; c < m; ++c) many[c * count + j] = rhs.rows()[j][c];
        std::vector<double> one(rhs.rows()[j].begin(), rhs.rows()[j].end());
        f.solve(one);
        out[1 + count + j] = std::move(one);
    }
    f.solve_many(many, count);
    for (std::size_t j = 0; j < count; ++j)
        for (std::size_t c = 0; c < m; ++c) out[1 + j].push_back(many[c * count + j]);
    return py::to_py(out);
}

constexpr py::FunctionDef def_subset_cholesky = py::function<subset_cholesky_fn>(
    "subset_cholesky", {"matrix", "start", "steps", "rhs"},
    "Order, solve_many solutions and single solutions after the steps; None on breakdown.");
const Register r1(py::callable<def_subset_cholesky>);

}  // namespace

}  // namespace quelm::testing

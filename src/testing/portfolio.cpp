// Test hooks for portfolio risk: the straightforward pairwise covariance matrix that
// the blocked kernel must reproduce bit for bit, and portfolio_returns / portfolio_variance
// on their own (Python reaches them only through the combined report).
#include "testing/registry.hpp"

#include <vector>

#include "quelm/portfolio/risk.hpp"
#include "quelm/stats/relational.hpp"

namespace quelm::testing {

namespace {

using py::Args;

PyObject* pairwise_covariance_matrix(Args& a) {
    py::FloatMatrix returns;
    if (!a.all(returns)) return nullptr;
    const auto series = returns.rows();
    const auto t = portfolio::check_matrix(series);
    if (!t) return py::raise(t.error());
    const std::size_t n = series.size();
    std::vector<std::vector<double>> cov(n, std::vector<double>(n, 0.0));
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = i; j < n; ++j) {
            const auto c = stats::covariance(series[i], series[j]);
            if (!c) return py::raise(c.error());
            cov[i][j] = *c;
            cov[j][i] = *c;
        }
    return py::to_py(cov);
}

PyObject* portfolio_returns_fn(Args& a) {
    py::FloatMatrix returns;
    py::FloatSeq weights;
    if (!a.all(returns, weights)) return nullptr;
    return py::finish(portfolio::portfolio_returns(returns.rows(), weights.view()),
                      [](const std::vector<double>& r) { return py::to_py(r); });
}

PyObject* portfolio_variance_fn(Args& a) {
    py::FloatMatrix cov;
    py::FloatSeq weights;
    if (!a.all(cov, weights)) return nullptr;
    return py::finish(portfolio::portfolio_variance(cov.rows(), weights.view()));
}

const py::FunctionDef def_pairwise = {
    "pairwise_covariance_matrix(returns)\n--\n\nCovariance matrix entry by entry with stats::covariance.",
    &pairwise_covariance_matrix,
};
const py::FunctionDef def_returns = {
    "portfolio_returns(returns, weights)\n--\n\nWeighted portfolio return series.",
    &portfolio_returns_fn,
};
const py::FunctionDef def_variance = {
    "portfolio_variance(cov, weights)\n--\n\nw'Σw with the negative-residue floor.",
    &portfolio_variance_fn,
};
const Register r1(def_pairwise);
const Register r2(def_returns);
const Register r3(def_variance);

}  // namespace

}  // namespace quelm::testing

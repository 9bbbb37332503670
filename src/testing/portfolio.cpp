// Test hooks for portfolio risk: the straightforward pairwise covariance matrix that
// the blocked kernel must reproduce bit for bit, and portfolio_returns / portfolio_variance
// on their own (Python reaches them only through the combined report).
#include "testing/registry.hpp"

#include <vector>

#include "quelm/core/math/solvers.hpp"
#include "quelm/dates/serial.hpp"
#include "quelm/portfolio/performance.hpp"
#include "quelm/portfolio/risk.hpp"
#include "quelm/stats/relational.hpp"

namespace quelm::testing {

namespace {

PyObject* pairwise_covariance_matrix(const py::FloatMatrix& returns) {
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

PyObject* portfolio_returns_fn(const py::FloatMatrix& returns, const py::FloatSeq& weights) {
    return py::finish(portfolio::portfolio_returns(returns.rows(), weights.view()),
                      [](const std::vector<double>& r) { return py::to_py(r); });
}

PyObject* portfolio_variance_fn(const py::FloatMatrix& cov, const py::FloatSeq& weights) {
    return py::finish(portfolio::portfolio_variance(cov.rows(), weights.view()));
}

// The rate scan from -99.99 % in 1 % steps without any shortcut, then Brent: what
// mwr must reproduce exactly.
PyObject* mwr_plain_scan(const std::vector<std::string>& dates, const py::FloatSeq& amounts) {
    if (dates.size() != amounts.size() || dates.size() < 2) return py::raise_value_error("bad flows");
    std::vector<portfolio::CashFlow> flows;
    for (std::size_t i = 0; i < dates.size(); ++i) {
        const Parsed<dates::Civil> d = dates::parse_iso_civil(dates[i]);
        if (!d) return py::raise_value_error(d.error());
        flows.push_back({dates::day_number(*d), amounts.view()[i]});
    }
    const auto f = [&](double r) { return portfolio::npv(flows, r); };
    double lo = -0.9999;
    double f_lo = f(lo);
    while (lo < 10.0) {
        const double hi = lo + 0.01;
        const double f_hi = f(hi);
        if (f_lo == 0.0) return py::to_py(lo);
        if (f_lo * f_hi < 0.0) return py::finish(brent(f, lo, hi, 1e-12, 200));
        lo = hi;
        f_lo = f_hi;
    }
    return py::none();
}

constexpr py::FunctionDef def_mwr_plain = py::function<mwr_plain_scan>(
    "mwr_plain_scan", {"dates", "amounts"}, "IRR by the full 1 % scan and Brent; None when no sign change.");
const Register r4(py::callable<def_mwr_plain>);
constexpr py::FunctionDef def_pairwise = py::function<pairwise_covariance_matrix>(
    "pairwise_covariance_matrix", {"returns"}, "Covariance matrix entry by entry with stats::covariance.");
constexpr py::FunctionDef def_returns = py::function<portfolio_returns_fn>(
    "portfolio_returns", {"returns", "weights"}, "Weighted portfolio return series.");
constexpr py::FunctionDef def_variance = py::function<portfolio_variance_fn>(
    "portfolio_variance", {"cov", "weights"}, "w'Σw with the negative-residue floor.");
const Register r1(py::callable<def_pairwise>);
const Register r2(py::callable<def_returns>);
const Register r3(py::callable<def_variance>);

}  // namespace

}  // namespace quelm::testing

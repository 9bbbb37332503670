// Python bindings: portfolio_value, twr, mwr, allocation, covariance_matrix, portfolio_risk, optimize.
#include "bindings/frame/call.hpp"
#include "bindings/frame/dates.hpp"
#include "bindings/frame/result.hpp"
#include "quelm/portfolio/allocation.hpp"
#include "quelm/portfolio/optimize.hpp"
#include "quelm/portfolio/performance.hpp"
#include "quelm/portfolio/result.hpp"
#include "quelm/portfolio/risk.hpp"
#include "quelm/portfolio/valuation.hpp"

#include <optional>
#include <string>
#include <vector>

namespace quelm::py {

namespace {

// holdings: a sequence of (symbol, quantity, unit_cost, price) tuples, one lot each.
struct HoldingRows {
    std::vector<portfolio::Holding> holdings;
    std::vector<double> prices;
};

bool convert_holding(PyObject* item, HoldingRows& out) {
    if (!PyTuple_Check(item)) {
        PyErr_Format(PyExc_TypeError, "expected a tuple (symbol, quantity, unit_cost, price), got %s",
                     Py_TYPE(item)->tp_name);
        return false;
    }
    const Py_ssize_t n = PyTuple_GET_SIZE(item);
    if (n != 4) {
        PyErr_Format(PyExc_ValueError, "expected tuple of length 4, but got tuple of length %zd", n);
        return false;
    }
    std::string symbol;
    double quantity = 0.0, unit_cost = 0.0, price = 0.0;
    if (!from_py(PyTuple_GET_ITEM(item, 0), symbol) || !from_py(PyTuple_GET_ITEM(item, 1), quantity) ||
        !from_py(PyTuple_GET_ITEM(item, 2), unit_cost) || !from_py(PyTuple_GET_ITEM(item, 3), price))
        return false;
    out.holdings.push_back({std::move(symbol), {{quantity, unit_cost}}});
    out.prices.push_back(price);
    return true;
}

bool from_py(PyObject* o, HoldingRows& out) {
    out = {};
    if (!check_sequence(o, "a sequence of (symbol, quantity, unit_cost, price) tuples")) return false;
    Ref it(PyObject_GetIter(o));
    if (!it) return false;
    while (true) {
        Ref item(PyIter_Next(it.get()));
        if (!item) return !PyErr_Occurred();
        if (!convert_holding(item.get(), out)) return false;
    }
}

using portfolio::HoldingValuation;
using portfolio::HoldingsValuation;

constinit const auto kHolding = record<HoldingValuation>({
    QUELM_FIELD(HoldingValuation, symbol), QUELM_FIELD(HoldingValuation, quantity),
    QUELM_FIELD(HoldingValuation, average_cost), QUELM_FIELD(HoldingValuation, price),
    QUELM_FIELD(HoldingValuation, cost_basis), QUELM_FIELD(HoldingValuation, market_value),
    QUELM_FIELD(HoldingValuation, unrealized_pnl), QUELM_FIELD(HoldingValuation, unrealized_pnl_pct),
    QUELM_FIELD(HoldingValuation, weight),
});
static_assert(kHolding.size() == aggregate_size<HoldingValuation>());

constinit const auto kValuation = record<HoldingsValuation>({
    QUELM_FIELD(HoldingsValuation, n_holdings), QUELM_FIELD(HoldingsValuation, total_cost_basis),
    QUELM_FIELD(HoldingsValuation, total_market_value), QUELM_FIELD(HoldingsValuation, total_unrealized_pnl),
    QUELM_FIELD(HoldingsValuation, total_unrealized_pnl_pct),
    {"holdings",
     [](const HoldingsValuation& v) { return to_py(std::span<const HoldingValuation>(v.holdings), kHolding); }},
});
static_assert(kValuation.size() == aggregate_size<HoldingsValuation>());

PyObject* portfolio_value_impl(const HoldingRows& rows) {
    return finish(compute(rows.prices.size(), [&] { return portfolio::value_holdings(rows.holdings, rows.prices); }),
                  kValuation);
}

PyObject* twr_impl(const FloatSeq& values, const FloatSeq& flows) {
    return finish(compute(values.size(), [&] { return portfolio::twr(values.view(), flows.view()); }));
}

// mwr's dates: ISO text kept as given (the core reads it, with its messages), any other
// date (datetime.date, datetime64, Timestamp) written as ISO text.
struct DateTexts {
    std::vector<std::string> texts;
};

bool from_py(PyObject* o, DateTexts& out) {
    if (!check_sequence(o, "a sequence of dates")) return false;
    Ref seq(PySequence_Fast(o, "expected a sequence of dates"));
    if (!seq) return false;
    const Py_ssize_t n = PySequence_Fast_GET_SIZE(seq.get());
    out.texts.resize(static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* item = PySequence_Fast_GET_ITEM(seq.get(), i);
        std::string& text = out.texts[static_cast<std::size_t>(i)];
        if (PyUnicode_Check(item) ? !quelm::py::from_py(item, text) : !iso_text(item, text)) return false;
    }
    return true;
}

PyObject* mwr_impl(const DateTexts& dates, const FloatSeq& amounts) {
    return finish(compute([&](Cancel& c) { return portfolio::mwr(dates.texts, amounts.view(), c); }));
}

PyObject* allocation_impl(const FloatSeq& values) {
    return finish(compute(values.size(), [&] { return portfolio::weights(values.view()); }),
                  [](const std::vector<double>& w) { return to_py(w); });
}

PyObject* covariance_matrix_impl(const FloatMatrix& returns) {
    return finish(compute([&](Cancel& c) { return portfolio::covariance_matrix(returns.rows(), c); }),
                  [](const portfolio::Matrix& m) { return to_py(m); });
}

using portfolio::PortfolioRisk;

constinit const auto kRisk = record<PortfolioRisk>({
    QUELM_FIELD(PortfolioRisk, variance), QUELM_FIELD(PortfolioRisk, volatility),
    QUELM_FIELD(PortfolioRisk, annualized_volatility), QUELM_FIELD(PortfolioRisk, historical_var),
    QUELM_FIELD(PortfolioRisk, parametric_var), QUELM_FIELD(PortfolioRisk, confidence),
    QUELM_FIELD(PortfolioRisk, periods_per_year),
});
static_assert(kRisk.size() == aggregate_size<PortfolioRisk>());

PyObject* portfolio_risk_impl(const FloatMatrix& returns, const FloatSeq& weights, double periods_per_year,
                              double confidence) {
    return finish(compute([&](Cancel& c) {
                      return portfolio::portfolio_risk(returns.rows(), weights.view(), periods_per_year, confidence, c);
                  }),
                  kRisk);
}

using portfolio::Optimal;

constinit const auto kOptimal = record<Optimal>({
    {"min_variance_weights", member<&Optimal::min_variance>}, {"tangency_weights", member<&Optimal::tangency>},
    {"frontier_weights", member<&Optimal::frontier>},
});
static_assert(kOptimal.size() == aggregate_size<Optimal>());

PyObject* optimize_impl(const FloatSeq& mean, const FloatMatrix& cov, double rf, const std::optional<double>& target) {
    return finish(compute([&](Cancel& c) { return portfolio::optimize(cov.rows(), mean.view(), rf, target, c); }),
                  kOptimal);
}

}  // namespace

extern const FunctionDef def_portfolio_value = function<portfolio_value_impl>(
    "portfolio_value", {"holdings"},
    "Mark-to-market value holdings, returning totals + a per-holding breakdown.\n"
    "\n"
    "`holdings` is a list of `(symbol, quantity, unit_cost, price)` tuples.\n"
    "\n"
    "```python\n"
    "quelm.portfolio_value([(\"AAPL\", 10, 150, 175), (\"MSFT\", 5, 300, 320)])\n"
    "```");

extern const FunctionDef def_twr = function<twr_impl>(
    "twr", {"values", "flows"},
    "Time-weighted return from period-boundary valuations and sub-period flows.");

extern const FunctionDef def_mwr = function<mwr_impl>(
    "mwr", {"dates", "amounts"},
    "Money-weighted return (IRR) from ISO `dates` and aligned `amounts`\n"
    "(invested negative, received positive).");

extern const FunctionDef def_allocation = function<allocation_impl>(
    "allocation", {"market_values"},
    "Allocation weights from market values.");

extern const FunctionDef def_covariance_matrix = function<covariance_matrix_impl>(
    "covariance_matrix", {"returns"},
    "The population covariance matrix of N aligned asset-return series.");

extern const FunctionDef def_portfolio_risk = function<portfolio_risk_impl>(
    "portfolio_risk", {"returns", "weights", {"periods_per_year", "252.0"}, {"confidence", "0.95"}},
    "Portfolio risk (variance, volatility, VaR) from asset returns + weights.");

extern const FunctionDef def_optimize = function<optimize_impl>(
    "optimize", {"mean", "cov", {"rf", "0.0"}, {"target", "None"}},
    "Markowitz optimization: min-variance, tangency, and (if `target` is given)\n"
    "efficient-frontier weights. Unconstrained / closed-form (shorting allowed).");

}  // namespace quelm::py

// Python bindings: portfolio_value, twr, mwr, allocation, covariance_matrix, portfolio_risk, optimize.
#include "bindings/frame/args.hpp"
#include "bindings/frame/result.hpp"
#include "quelm/core/date.hpp"
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

PyObject* holding_dict(const portfolio::HoldingValuation& h) {
    static const KeySet<9> keys({"symbol", "quantity", "average_cost", "price", "cost_basis", "market_value",
                                 "unrealized_pnl", "unrealized_pnl_pct", "weight"});
    return make_dict(keys, {to_py(h.symbol), to_py(h.quantity), to_py(h.average_cost), to_py(h.price),
                            to_py(h.cost_basis), to_py(h.market_value), to_py(h.unrealized_pnl),
                            to_py(h.unrealized_pnl_pct), to_py(h.weight)});
}

PyObject* valuation_dict(const portfolio::HoldingsValuation& v) {
    static const KeySet<6> keys({"n_holdings", "total_cost_basis", "total_market_value", "total_unrealized_pnl",
                                 "total_unrealized_pnl_pct", "holdings"});
    Ref lines(PyList_New(static_cast<Py_ssize_t>(v.holdings.size())));
    if (!lines) return nullptr;
    for (std::size_t i = 0; i < v.holdings.size(); ++i) {
        PyObject* d = holding_dict(v.holdings[i]);
        if (d == nullptr) return nullptr;
        PyList_SET_ITEM(lines.get(), static_cast<Py_ssize_t>(i), d);
    }
    return make_dict(keys, {to_py(v.n_holdings), to_py(v.total_cost_basis), to_py(v.total_market_value),
                            to_py(v.total_unrealized_pnl), to_py(v.total_unrealized_pnl_pct), lines.release()});
}

PyObject* portfolio_value_impl(Args& a) {
    HoldingRows rows;
    if (!a.all(rows)) return nullptr;
    return finish(portfolio::value_holdings(rows.holdings, rows.prices), &valuation_dict);
}

PyObject* twr_impl(Args& a) {
    FloatSeq values, flows;
    if (!a.all(values, flows)) return nullptr;
    return finish(portfolio::twr(values.view(), flows.view()));
}

PyObject* mwr_impl(Args& a) {
    std::vector<std::string> dates;
    FloatSeq amounts;
    if (!a.all(dates, amounts)) return nullptr;
    if (dates.size() != amounts.size()) return raise_value_error("dates and amounts must be the same length");
    std::vector<portfolio::CashFlow> flows;
    flows.reserve(dates.size());
    for (std::size_t i = 0; i < dates.size(); ++i) {
        const Parsed<Date> d = parse_iso_date(dates[i]);
        if (!d) return raise_value_error(d.error());
        flows.push_back({*d, amounts.view()[i]});
    }
    Interrupt intr;
    const auto r = portfolio::mwr(flows, intr.token());
    return finish(r, intr, [](double v) { return to_py(v); });
}

PyObject* allocation_impl(Args& a) {
    FloatSeq values;
    if (!a.all(values)) return nullptr;
    return finish(portfolio::weights(values.view()), [](const std::vector<double>& w) { return to_py(w); });
}

PyObject* covariance_matrix_impl(Args& a) {
    FloatMatrix returns;
    if (!a.all(returns)) return nullptr;
    Interrupt intr;
    const auto r = portfolio::covariance_matrix(returns.rows(), intr.token());
    return finish(r, intr, [](const portfolio::Matrix& m) { return to_py(m); });
}

PyObject* risk_dict(const portfolio::PortfolioRisk& r) {
    static const KeySet<7> keys({"variance", "volatility", "annualized_volatility", "historical_var",
                                 "parametric_var", "confidence", "periods_per_year"});
    return make_dict(keys, {to_py(r.variance), to_py(r.volatility), to_py(r.annualized_volatility),
                            to_py(r.historical_var), to_py(r.parametric_var), to_py(r.confidence),
                            to_py(r.periods_per_year)});
}

PyObject* portfolio_risk_impl(Args& a) {
    FloatMatrix returns;
    FloatSeq weights;
    double periods_per_year = 252.0, confidence = 0.95;
    if (!a.all(returns, weights, periods_per_year, confidence)) return nullptr;
    Interrupt intr;
    const auto r = portfolio::portfolio_risk(returns.rows(), weights.view(), periods_per_year, confidence,
                                             intr.token());
    return finish(r, intr, &risk_dict);
}

PyObject* optimize_impl(Args& a) {
    FloatSeq mean;
    FloatMatrix cov;
    double rf = 0.0;
    std::optional<double> target;
    if (!a.all(mean, cov, rf, target)) return nullptr;
    // The first failing step decides the message, so each is checked before the next runs.
    Interrupt intr;
    const auto failed = [&](const auto& r) { return intr.interrupted() || !r; };
    const auto fail = [&](const auto& r) { return finish(r, intr, [](const auto&) { return none(); }); };
    const auto m = portfolio::min_variance_weights(cov.rows(), intr.token());
    if (failed(m)) return fail(m);
    const auto t = portfolio::tangency_weights(cov.rows(), mean.view(), rf, intr.token());
    if (failed(t)) return fail(t);
    std::optional<std::vector<double>> f;
    if (target) {
        auto r = portfolio::efficient_frontier_point(cov.rows(), mean.view(), *target, intr.token());
        if (failed(r)) return fail(r);
        f = std::move(*r);
    }
    static const KeySet<3> keys({"min_variance_weights", "tangency_weights", "frontier_weights"});
    return make_dict(keys, {to_py(*m), to_py(*t), to_py(f)});
}

}  // namespace

extern const FunctionDef def_portfolio_value = {
    "portfolio_value(holdings)\n--\n\n"
    "Mark-to-market value holdings, returning totals + a per-holding breakdown.\n"
    "\n"
    "`holdings` is a list of `(symbol, quantity, unit_cost, price)` tuples.\n"
    "\n"
    "```python\n"
    "quelm.portfolio_value([(\"AAPL\", 10, 150, 175), (\"MSFT\", 5, 300, 320)])\n"
    "```",
    &portfolio_value_impl,
};

extern const FunctionDef def_twr = {
    "twr(values, flows)\n--\n\n"
    "Time-weighted return from period-boundary valuations and sub-period flows.",
    &twr_impl,
};

extern const FunctionDef def_mwr = {
    "mwr(dates, amounts)\n--\n\n"
    "Money-weighted return (IRR) from ISO `dates` and aligned `amounts`\n"
    "(invested negative, received positive).",
    &mwr_impl,
};

extern const FunctionDef def_allocation = {
    "allocation(market_values)\n--\n\n"
    "Allocation weights from market values.",
    &allocation_impl,
};

extern const FunctionDef def_covariance_matrix = {
    "covariance_matrix(returns)\n--\n\n"
    "The population covariance matrix of N aligned asset-return series.",
    &covariance_matrix_impl,
};

extern const FunctionDef def_portfolio_risk = {
    "portfolio_risk(returns, weights, periods_per_year=252.0, confidence=0.95)\n--\n\n"
    "Portfolio risk (variance, volatility, VaR) from asset returns + weights.",
    &portfolio_risk_impl,
};

extern const FunctionDef def_optimize = {
    "optimize(mean, cov, rf=0.0, target=None)\n--\n\n"
    "Markowitz optimization: min-variance, tangency, and (if `target` is given)\n"
    "efficient-frontier weights. Unconstrained / closed-form (shorting allowed).",
    &optimize_impl,
};

}  // namespace quelm::py

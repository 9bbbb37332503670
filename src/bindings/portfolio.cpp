// Python bindings: portfolio_value, twr, mwr, allocation, covariance_matrix, portfolio_risk, optimize.
#include "bindings/frame/args.hpp"
#include "bindings/frame/result.hpp"

namespace quelm::py {

namespace {

PyObject* portfolio_value_impl(Args&) {
    return raise(Error{Kind::NotImplemented, "portfolio_value"});
}

PyObject* twr_impl(Args&) {
    return raise(Error{Kind::NotImplemented, "twr"});
}

PyObject* mwr_impl(Args&) {
    return raise(Error{Kind::NotImplemented, "mwr"});
}

PyObject* allocation_impl(Args&) {
    return raise(Error{Kind::NotImplemented, "allocation"});
}

PyObject* covariance_matrix_impl(Args&) {
    return raise(Error{Kind::NotImplemented, "covariance_matrix"});
}

PyObject* portfolio_risk_impl(Args&) {
    return raise(Error{Kind::NotImplemented, "portfolio_risk"});
}

PyObject* optimize_impl(Args&) {
    return raise(Error{Kind::NotImplemented, "optimize"});
}

}  // namespace

extern const FunctionDef def_portfolio_value = {
    "portfolio_value(holdings)\n--\n\n"
    "Mark-to-market value holdings, returning totals + a per-holding breakdown.",
    &portfolio_value_impl,
};

extern const FunctionDef def_twr = {
    "twr(values, flows)\n--\n\n"
    "Time-weighted return from period-boundary valuations and sub-period flows.",
    &twr_impl,
};

extern const FunctionDef def_mwr = {
    "mwr(dates, amounts)\n--\n\n"
    "Money-weighted return (IRR) from ISO `dates` and aligned `amounts`",
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
    "Markowitz optimization: min-variance, tangency, and (if `target` is given)",
    &optimize_impl,
};

}  // namespace quelm::py

// Python bindings: stats, sharpe, sortino, max_drawdown, value_at_risk, expected_shortfall, beta, tracking_error, info_ratio, jarque_bera, acf.
#include "bindings/frame/args.hpp"
#include "bindings/frame/result.hpp"

namespace quelm::py {

namespace {

PyObject* stats_impl(Args&) {
    return raise(Error{Kind::NotImplemented, "stats"});
}

PyObject* sharpe_impl(Args&) {
    return raise(Error{Kind::NotImplemented, "sharpe"});
}

PyObject* sortino_impl(Args&) {
    return raise(Error{Kind::NotImplemented, "sortino"});
}

PyObject* max_drawdown_impl(Args&) {
    return raise(Error{Kind::NotImplemented, "max_drawdown"});
}

PyObject* value_at_risk_impl(Args&) {
    return raise(Error{Kind::NotImplemented, "value_at_risk"});
}

PyObject* expected_shortfall_impl(Args&) {
    return raise(Error{Kind::NotImplemented, "expected_shortfall"});
}

PyObject* beta_impl(Args&) {
    return raise(Error{Kind::NotImplemented, "beta"});
}

PyObject* tracking_error_impl(Args&) {
    return raise(Error{Kind::NotImplemented, "tracking_error"});
}

PyObject* info_ratio_impl(Args&) {
    return raise(Error{Kind::NotImplemented, "info_ratio"});
}

PyObject* jarque_bera_impl(Args&) {
    return raise(Error{Kind::NotImplemented, "jarque_bera"});
}

PyObject* acf_impl(Args&) {
    return raise(Error{Kind::NotImplemented, "acf"});
}

}  // namespace

extern const FunctionDef def_stats = {
    "stats(returns=None, prices=None, values=None, benchmark=None, risk_free=0.0, periods_per_year=252.0, confidence=0.95, lag=None)\n--\n\n"
    "Compute descriptive, risk, and performance statistics for a series.",
    &stats_impl,
};

extern const FunctionDef def_sharpe = {
    "sharpe(returns, risk_free=0.0, periods_per_year=252.0)\n--\n\n"
    "Annualized Sharpe ratio of a returns series.",
    &sharpe_impl,
};

extern const FunctionDef def_sortino = {
    "sortino(returns, mar=0.0, periods_per_year=252.0)\n--\n\n"
    "Annualized Sortino ratio of a returns series.",
    &sortino_impl,
};

extern const FunctionDef def_max_drawdown = {
    "max_drawdown(prices)\n--\n\n"
    "Maximum drawdown of a price series, as a dict.",
    &max_drawdown_impl,
};

extern const FunctionDef def_value_at_risk = {
    "value_at_risk(returns, confidence=0.95, method=\"historical\")\n--\n\n"
    "Value-at-Risk (positive loss). `method` ∈ {`historical`, `parametric`,",
    &value_at_risk_impl,
};

extern const FunctionDef def_expected_shortfall = {
    "expected_shortfall(returns, confidence=0.95, method=\"historical\")\n--\n\n"
    "Expected Shortfall (positive loss). `method` ∈ {`historical`, `parametric`}.",
    &expected_shortfall_impl,
};

extern const FunctionDef def_beta = {
    "beta(asset, benchmark)\n--\n\n"
    "Beta of an asset's returns against a benchmark's.",
    &beta_impl,
};

extern const FunctionDef def_tracking_error = {
    "tracking_error(portfolio, benchmark, periods_per_year=252.0)\n--\n\n"
    "Annualized tracking error of a portfolio vs a benchmark (returns series).",
    &tracking_error_impl,
};

extern const FunctionDef def_info_ratio = {
    "info_ratio(portfolio, benchmark, periods_per_year=252.0)\n--\n\n"
    "Annualized information ratio of a portfolio vs a benchmark (returns series).",
    &info_ratio_impl,
};

extern const FunctionDef def_jarque_bera = {
    "jarque_bera(values)\n--\n\n"
    "Jarque-Bera normality test: `(statistic, p_value)`.",
    &jarque_bera_impl,
};

extern const FunctionDef def_acf = {
    "acf(values, max_lag)\n--\n\n"
    "Autocorrelation function for lags `0..=max_lag`.",
    &acf_impl,
};

}  // namespace quelm::py

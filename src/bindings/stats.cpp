// Python bindings: stats, sharpe, sortino, max_drawdown, value_at_risk, expected_shortfall, beta, tracking_error, info_ratio, jarque_bera, acf.
#include "bindings/frame/args.hpp"
#include "bindings/frame/result.hpp"
#include "quelm/stats/drawdown.hpp"
#include "quelm/stats/method.hpp"
#include "quelm/stats/normality.hpp"
#include "quelm/stats/relational.hpp"
#include "quelm/stats/result.hpp"
#include "quelm/stats/returns.hpp"
#include "quelm/stats/risk.hpp"

#include <optional>
#include <vector>

namespace quelm::py {

namespace {

using Series = std::optional<FloatSeq>;

PyObject* report_to_py(const stats::StatsReport& r) {
    static const KeySet<30> keys({"count", "periods_per_year", "confidence", "mean", "variance", "std_dev",
                                  "skewness", "excess_kurtosis", "jarque_bera", "jarque_bera_pvalue",
                                  "autocorr_lag1", "autocorr_at_lag", "cumulative_return", "annualized_return",
                                  "annualized_volatility", "sharpe", "sortino", "historical_var", "historical_es",
                                  "parametric_var", "parametric_es", "cornish_fisher_var", "max_drawdown",
                                  "max_drawdown_duration", "calmar", "covariance", "correlation", "beta",
                                  "tracking_error", "information_ratio"});
    return make_dict(keys, {to_py(r.count), to_py(r.periods_per_year), to_py(r.confidence), to_py(r.mean),
                            to_py(r.variance), to_py(r.std_dev), to_py(r.skewness), to_py(r.excess_kurtosis),
                            to_py(r.jarque_bera), to_py(r.jarque_bera_pvalue), to_py(r.autocorr_lag1),
                            to_py(r.autocorr_at_lag), to_py(r.cumulative_return), to_py(r.annualized_return),
                            to_py(r.annualized_volatility), to_py(r.sharpe), to_py(r.sortino),
                            to_py(r.historical_var), to_py(r.historical_es), to_py(r.parametric_var),
                            to_py(r.parametric_es), to_py(r.cornish_fisher_var), to_py(r.max_drawdown),
                            to_py(r.max_drawdown_duration), to_py(r.calmar), to_py(r.covariance),
                            to_py(r.correlation), to_py(r.beta), to_py(r.tracking_error),
                            to_py(r.information_ratio)});
}

PyObject* stats_impl(Args& a) {
    Series returns, prices, values, benchmark;
    double risk_free = 0.0, periods_per_year = 252.0, confidence = 0.95;
    std::optional<std::uint64_t> lag;
    if (!a.all(returns, prices, values, benchmark, risk_free, periods_per_year, confidence, lag)) return nullptr;
    const int given = int(returns.has_value()) + int(prices.has_value()) + int(values.has_value());
    if (given == 0) return raise_value_error("provide exactly one of returns, prices, or values");
    if (given > 1) return raise_value_error("use only one of returns, prices, or values");

    stats::ReportInput in;
    in.risk_free = risk_free;
    in.periods_per_year = periods_per_year;
    in.confidence = confidence;
    in.lag = lag;
    if (benchmark) in.benchmark = benchmark->view();
    std::vector<double> derived;
    if (returns) {
        in.series = returns->view();
    } else if (values) {
        in.series = values->view();
        in.values_only = true;
    } else {
        auto r = stats::simple_returns(prices->view());
        if (!r) return raise(r.error());
        derived = std::move(*r);
        in.series = derived;
        in.prices = prices->view();
    }
    Interrupt intr;
    const auto r = stats::assemble(in, intr.token());
    return finish(r, intr, report_to_py);
}

PyObject* sharpe_impl(Args& a) {
    FloatSeq returns;
    double risk_free = 0.0, periods_per_year = 252.0;
    if (!a.all(returns, risk_free, periods_per_year)) return nullptr;
    return finish(stats::sharpe_ratio(returns.view(), risk_free, periods_per_year));
}

PyObject* sortino_impl(Args& a) {
    FloatSeq returns;
    double mar = 0.0, periods_per_year = 252.0;
    if (!a.all(returns, mar, periods_per_year)) return nullptr;
    return finish(stats::sortino_ratio(returns.view(), mar, periods_per_year));
}

PyObject* max_drawdown_impl(Args& a) {
    FloatSeq prices;
    if (!a.all(prices)) return nullptr;
    static const KeySet<4> keys({"max_drawdown", "peak_index", "trough_index", "duration"});
    return finish(stats::max_drawdown(prices.view()), [](const stats::Drawdown& d) {
        return make_dict(keys, {to_py(d.max_drawdown), to_py(d.peak_index), to_py(d.trough_index),
                                to_py(d.duration)});
    });
}

PyObject* value_at_risk_impl(Args& a) {
    FloatSeq returns;
    double confidence = 0.95;
    std::string method = "historical";
    if (!a.all(returns, confidence, method)) return nullptr;
    stats::VarMethod m;
    if (!parsed(stats::parse_var_method(method), m)) return nullptr;
    switch (m) {
        case stats::VarMethod::Historical: return finish(stats::historical_var(returns.view(), confidence));
        case stats::VarMethod::Parametric: return finish(stats::parametric_var(returns.view(), confidence));
        case stats::VarMethod::CornishFisher: break;
    }
    return finish(stats::cornish_fisher_var(returns.view(), confidence));
}

PyObject* expected_shortfall_impl(Args& a) {
    FloatSeq returns;
    double confidence = 0.95;
    std::string method = "historical";
    if (!a.all(returns, confidence, method)) return nullptr;
    stats::EsMethod m;
    if (!parsed(stats::parse_es_method(method), m)) return nullptr;
    if (m == stats::EsMethod::Historical) return finish(stats::historical_es(returns.view(), confidence));
    return finish(stats::parametric_es(returns.view(), confidence));
}

PyObject* beta_impl(Args& a) {
    FloatSeq asset, benchmark;
    if (!a.all(asset, benchmark)) return nullptr;
    return finish(stats::beta(asset.view(), benchmark.view()));
}

PyObject* tracking_error_impl(Args& a) {
    FloatSeq portfolio, benchmark;
    double periods_per_year = 252.0;
    if (!a.all(portfolio, benchmark, periods_per_year)) return nullptr;
    return finish(stats::tracking_error(portfolio.view(), benchmark.view(), periods_per_year));
}

PyObject* info_ratio_impl(Args& a) {
    FloatSeq portfolio, benchmark;
    double periods_per_year = 252.0;
    if (!a.all(portfolio, benchmark, periods_per_year)) return nullptr;
    return finish(stats::information_ratio(portfolio.view(), benchmark.view(), periods_per_year));
}

PyObject* jarque_bera_impl(Args& a) {
    FloatSeq values;
    if (!a.all(values)) return nullptr;
    return finish(stats::jarque_bera(values.view()),
                  [](const stats::JarqueBera& jb) { return to_py_pair(jb.statistic, jb.p_value); });
}

PyObject* acf_impl(Args& a) {
    FloatSeq values;
    std::uint64_t max_lag = 0;
    if (!a.all(values, max_lag)) return nullptr;
    Interrupt intr;
    const auto r = stats::acf(values.view(), max_lag, intr.token());
    return finish(r, intr, [](const std::vector<double>& v) { return to_py(v); });
}

}  // namespace

extern const FunctionDef def_stats = {
    "stats(returns=None, prices=None, values=None, benchmark=None, risk_free=0.0, periods_per_year=252.0, confidence=0.95, lag=None)\n--\n\n"
    "Compute descriptive, risk, and performance statistics for a series.\n"
    "\n"
    "Provide exactly one of `returns`, `prices`, or `values`. `prices` derives\n"
    "returns and enables drawdown / Calmar; `values` yields descriptive statistics\n"
    "only. A `benchmark` (returns) enables beta / correlation / covariance /\n"
    "tracking error / information ratio. Metrics that don't apply return `None`.\n"
    "\n"
    "```python\n"
    "quelm.stats(returns=[0.01, -0.02, 0.015], periods_per_year=252, confidence=0.95)\n"
    "```",
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
    "Value-at-Risk (positive loss). `method` ∈ {`historical`, `parametric`,\n"
    "`cornish-fisher`}.\n"
    "\n"
    "The historical quantile orders NaN after every number, so a series holding\n"
    "NaN still gives a defined result (NaN once the quantile reaches a NaN).",
    &value_at_risk_impl,
};

extern const FunctionDef def_expected_shortfall = {
    "expected_shortfall(returns, confidence=0.95, method=\"historical\")\n--\n\n"
    "Expected Shortfall (positive loss). `method` ∈ {`historical`, `parametric`}.\n"
    "\n"
    "The historical quantile orders NaN after every number; NaN never joins the\n"
    "tail, and an empty tail (a NaN quantile) falls back to the smallest return.",
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

// Python bindings: stats, sharpe, sortino, max_drawdown, value_at_risk, expected_shortfall, beta, tracking_error, info_ratio, jarque_bera, acf.
#include "bindings/frame/call.hpp"
#include "bindings/frame/registry.hpp"
#include "bindings/frame/result.hpp"
#include "bindings/stats_records.hpp"
#include "quelm/stats/drawdown.hpp"
#include "quelm/stats/method.hpp"
#include "quelm/stats/normality.hpp"
#include "quelm/stats/relational.hpp"
#include "quelm/stats/report.hpp"
#include "quelm/stats/risk.hpp"
#include "quelm/stats/series.hpp"

#include <optional>
#include <span>
#include <vector>

namespace quelm::py {

constexpr Section kSection = Section::Statistics;

namespace {

using Series = std::optional<FloatSeq>;
using stats::StatsReport;

constinit const auto kStatsReport = record<StatsReport>({
    QUELM_FIELD(StatsReport, count), QUELM_FIELD(StatsReport, periods_per_year), QUELM_FIELD(StatsReport, confidence),
    QUELM_FIELD(StatsReport, mean), QUELM_FIELD(StatsReport, variance), QUELM_FIELD(StatsReport, std_dev),
    QUELM_FIELD(StatsReport, skewness), QUELM_FIELD(StatsReport, excess_kurtosis),
    QUELM_FIELD(StatsReport, jarque_bera), QUELM_FIELD(StatsReport, jarque_bera_pvalue),
    QUELM_FIELD(StatsReport, autocorr_lag1), QUELM_FIELD(StatsReport, autocorr_at_lag),
    QUELM_FIELD(StatsReport, cumulative_return), QUELM_FIELD(StatsReport, annualized_return),
    QUELM_FIELD(StatsReport, annualized_volatility), QUELM_FIELD(StatsReport, sharpe),
    QUELM_FIELD(StatsReport, sortino), QUELM_FIELD(StatsReport, historical_var),
    QUELM_FIELD(StatsReport, historical_es), QUELM_FIELD(StatsReport, parametric_var),
    QUELM_FIELD(StatsReport, parametric_es), QUELM_FIELD(StatsReport, cornish_fisher_var),
    QUELM_FIELD(StatsReport, max_drawdown), QUELM_FIELD(StatsReport, max_drawdown_duration),
    QUELM_FIELD(StatsReport, calmar), QUELM_FIELD(StatsReport, covariance), QUELM_FIELD(StatsReport, correlation),
    QUELM_FIELD(StatsReport, beta), QUELM_FIELD(StatsReport, tracking_error),
    QUELM_FIELD(StatsReport, information_ratio),
});
static_assert(kStatsReport.size() == aggregate_size<StatsReport>(), "every report member has its key");

std::optional<std::span<const double>> view(const Series& s) {
    return s ? std::optional(s->view()) : std::nullopt;
}

PyObject* stats_impl(const Series& returns, const Series& prices, const Series& values, const Series& benchmark,
                     double risk_free, double periods_per_year, double confidence,
                     const std::optional<std::uint64_t>& lag) {
    const stats::GivenSeries given{view(returns), view(prices), view(values)};
    stats::ReportInput settings;  // the series is chosen in the core
    settings.benchmark = view(benchmark);
    settings.risk_free = risk_free;
    settings.periods_per_year = periods_per_year;
    settings.confidence = confidence;
    settings.lag = lag;
    return finish(compute([&](Cancel& c) { return stats::series_report(given, settings, c); }), kStatsReport);
}

PyObject* sharpe_impl(const FloatSeq& returns, double risk_free, double periods_per_year) {
    return finish(
        compute(returns.size(), [&] { return stats::sharpe_ratio(returns.view(), risk_free, periods_per_year); }));
}

PyObject* sortino_impl(const FloatSeq& returns, double mar, double periods_per_year) {
    return finish(compute(returns.size(), [&] { return stats::sortino_ratio(returns.view(), mar, periods_per_year); }));
}

constinit const auto kDrawdown = record<stats::Drawdown>({
    QUELM_FIELD(stats::Drawdown, max_drawdown), QUELM_FIELD(stats::Drawdown, peak_index),
    QUELM_FIELD(stats::Drawdown, trough_index), QUELM_FIELD(stats::Drawdown, duration),
});

PyObject* max_drawdown_impl(const FloatSeq& prices) {
    return finish(compute(prices.size(), [&] { return stats::max_drawdown(prices.view()); }), kDrawdown);
}

PyObject* value_at_risk_impl(const FloatSeq& returns, double confidence, std::string_view method) {
    stats::VarMethod m;
    if (!choose(stats::kVarMethods, method, m)) return nullptr;
    return finish(compute(returns.size(), [&] { return stats::value_at_risk(returns.view(), confidence, m); }));
}

PyObject* expected_shortfall_impl(const FloatSeq& returns, double confidence, std::string_view method) {
    stats::EsMethod m;
    if (!choose(stats::kEsMethods, method, m)) return nullptr;
    return finish(compute(returns.size(), [&] { return stats::expected_shortfall(returns.view(), confidence, m); }));
}

PyObject* beta_impl(const FloatSeq& asset, const FloatSeq& benchmark) {
    return finish(compute(asset.size(), [&] { return stats::beta(asset.view(), benchmark.view()); }));
}

PyObject* tracking_error_impl(const FloatSeq& portfolio, const FloatSeq& benchmark, double periods_per_year) {
    return finish(compute(portfolio.size(), [&] {
        return stats::tracking_error(portfolio.view(), benchmark.view(), periods_per_year);
    }));
}

PyObject* info_ratio_impl(const FloatSeq& portfolio, const FloatSeq& benchmark, double periods_per_year) {
    return finish(compute(portfolio.size(), [&] {
        return stats::information_ratio(portfolio.view(), benchmark.view(), periods_per_year);
    }));
}

PyObject* jarque_bera_impl(const FloatSeq& values) {
    return finish(compute(values.size(), [&] { return stats::jarque_bera(values.view()); }),
                  [](const stats::JarqueBera& jb) { return to_py_pair(jb.statistic, jb.p_value); });
}

PyObject* acf_impl(const FloatSeq& values, std::uint64_t max_lag) {
    return finish(compute([&](Cancel& c) { return stats::acf(values.view(), max_lag, c); }),
                  [](const std::vector<double>& v) { return to_py(v); });
}

}  // namespace

PyObject* to_py(const stats::StatsReport& r) { return kStatsReport(r); }
PyObject* to_py(const stats::Drawdown& d) { return kDrawdown(d); }

constexpr FunctionDef def_stats = function<stats_impl>(
    "stats",
    {{"returns", "None"}, {"prices", "None"}, {"values", "None"}, {"benchmark", "None"}, {"risk_free", "0.0"},
     {"periods_per_year", "252.0"}, {"confidence", "0.95"}, {"lag", "None"}},
    "Compute descriptive, risk, and performance statistics for a series.\n"
    "\n"
    "Provide exactly one of `returns`, `prices`, or `values`. `prices` derives\n"
    "returns and enables drawdown / Calmar; `values` yields descriptive statistics\n"
    "only. A `benchmark` (returns) enables beta / correlation / covariance /\n"
    "tracking error / information ratio. Metrics that don't apply return `None`.\n"
    "\n"
    "```python\n"
    "quelm.stats(returns=[0.01, -0.02, 0.015], periods_per_year=252, confidence=0.95)\n"
    "```");
QUELM_PUBLIC(def_stats);

constexpr FunctionDef def_sharpe = function<sharpe_impl>(
    "sharpe", {"returns", {"risk_free", "0.0"}, {"periods_per_year", "252.0"}},
    "Annualized Sharpe ratio of a returns series.");
QUELM_PUBLIC(def_sharpe);

constexpr FunctionDef def_sortino = function<sortino_impl>(
    "sortino", {"returns", {"mar", "0.0"}, {"periods_per_year", "252.0"}},
    "Annualized Sortino ratio of a returns series.");
QUELM_PUBLIC(def_sortino);

constexpr FunctionDef def_max_drawdown = function<max_drawdown_impl>(
    "max_drawdown", {"prices"},
    "Maximum drawdown of a price series, as a dict.");
QUELM_PUBLIC(def_max_drawdown);

constexpr FunctionDef def_value_at_risk = function<value_at_risk_impl>(
    "value_at_risk", {"returns", {"confidence", "0.95"}, {"method", "\"historical\""}},
    "Value-at-Risk (positive loss). `method` ∈ {`historical`, `parametric`,\n"
    "`cornish-fisher`}.\n"
    "\n"
    "The historical quantile orders NaN after every number, so a series holding\n"
    "NaN still gives a defined result (NaN once the quantile reaches a NaN).");
QUELM_PUBLIC(def_value_at_risk);

constexpr FunctionDef def_expected_shortfall = function<expected_shortfall_impl>(
    "expected_shortfall", {"returns", {"confidence", "0.95"}, {"method", "\"historical\""}},
    "Expected Shortfall (positive loss). `method` ∈ {`historical`, `parametric`}.\n"
    "\n"
    "The historical quantile orders NaN after every number; NaN never joins the\n"
    "tail, and an empty tail (a NaN quantile) falls back to the smallest return.");
QUELM_PUBLIC(def_expected_shortfall);

constexpr FunctionDef def_beta = function<beta_impl>(
    "beta", {"asset", "benchmark"},
    "Beta of an asset's returns against a benchmark's.");
QUELM_PUBLIC(def_beta);

constexpr FunctionDef def_tracking_error = function<tracking_error_impl>(
    "tracking_error", {"portfolio", "benchmark", {"periods_per_year", "252.0"}},
    "Annualized tracking error of a portfolio vs a benchmark (returns series).");
QUELM_PUBLIC(def_tracking_error);

constexpr FunctionDef def_info_ratio = function<info_ratio_impl>(
    "info_ratio", {"portfolio", "benchmark", {"periods_per_year", "252.0"}},
    "Annualized information ratio of a portfolio vs a benchmark (returns series).");
QUELM_PUBLIC(def_info_ratio);

constexpr FunctionDef def_jarque_bera = function<jarque_bera_impl>(
    "jarque_bera", {"values"},
    "Jarque-Bera normality test: `(statistic, p_value)`.");
QUELM_PUBLIC(def_jarque_bera);

constexpr FunctionDef def_acf = function<acf_impl>(
    "acf", {"values", "max_lag"},
    "Autocorrelation function for lags `0..=max_lag`.");
QUELM_PUBLIC(def_acf);

}  // namespace quelm::py

// Python bindings: stats, sharpe, sortino, max_drawdown, value_at_risk, expected_shortfall, beta,
// tracking_error, info_ratio, jarque_bera, acf.
#include "frame/declare.hpp"
#include "frame/registry.hpp"
#include "bindings/string_options.hpp"
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
constexpr std::string_view kGuide = "statistics";  // the guide page of its names

namespace {

using Series = std::span<const double>;
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

constinit const auto kDrawdown = record<stats::Drawdown>({
    QUELM_FIELD(stats::Drawdown, max_drawdown), QUELM_FIELD(stats::Drawdown, peak_index),
    QUELM_FIELD(stats::Drawdown, trough_index), QUELM_FIELD(stats::Drawdown, duration),
});

}  // namespace

QUELM_RECORD(StatsReport, kStatsReport, "StatsReport");
QUELM_RECORD(stats::Drawdown, kDrawdown, "DrawdownResult");

template <>
struct ToPy<stats::JarqueBera> {
    static PyObject* convert(const stats::JarqueBera& jb) { return to_py_pair(jb.statistic, jb.p_value); }
};
template <>
struct Annotation<stats::JarqueBera> {
    static const char* result() { return "Tuple[float, float]"; }
};

namespace {

Result<StatsReport> stats_of(std::optional<Series> returns, std::optional<Series> prices,
                             std::optional<Series> values, std::optional<Series> benchmark, double risk_free,
                             double periods_per_year, double confidence, std::optional<std::uint64_t> lag,
                             Cancel& cancel) {
    stats::ReportInput settings;  // the series is chosen in the core
    settings.benchmark = benchmark;
    settings.risk_free = risk_free;
    settings.periods_per_year = periods_per_year;
    settings.confidence = confidence;
    settings.lag = lag;
    return stats::series_report({returns, prices, values}, settings, cancel);
}

Result<double> sharpe_of(Series returns, double risk_free, double periods_per_year) {
    return stats::sharpe_ratio(returns, risk_free, periods_per_year);
}

Result<double> sortino_of(Series returns, double mar, double periods_per_year) {
    return stats::sortino_ratio(returns, mar, periods_per_year);
}

Result<stats::Drawdown> max_drawdown_of(Series prices) { return stats::max_drawdown(prices); }

Result<double> value_at_risk_of(Series returns, double confidence, stats::VarMethod method) {
    return stats::value_at_risk(returns, confidence, method);
}

Result<double> expected_shortfall_of(Series returns, double confidence, stats::EsMethod method) {
    return stats::expected_shortfall(returns, confidence, method);
}

Result<double> beta_of(Series asset, Series benchmark) { return stats::beta(asset, benchmark); }

Result<double> tracking_error_of(Series portfolio, Series benchmark, double periods_per_year) {
    return stats::tracking_error(portfolio, benchmark, periods_per_year);
}

Result<double> info_ratio_of(Series portfolio, Series benchmark, double periods_per_year) {
    return stats::information_ratio(portfolio, benchmark, periods_per_year);
}

Result<stats::JarqueBera> jarque_bera_of(Series values) { return stats::jarque_bera(values); }

Result<std::vector<double>> acf_of(Series values, std::uint64_t max_lag, Cancel& cancel) {
    return stats::acf(values, max_lag, cancel);
}

constexpr FunctionDef def_stats = typed_in_vec<&stats_of>(
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

constexpr FunctionDef def_sharpe = typed_in_vec<&sharpe_of>(
    "sharpe", {"returns", {"risk_free", "0.0"}, {"periods_per_year", "252.0"}},
    "Annualized Sharpe ratio of a returns series.").locking(Lock::BySize);
QUELM_PUBLIC(def_sharpe);

constexpr FunctionDef def_sortino = typed_in_vec<&sortino_of>(
    "sortino", {"returns", {"mar", "0.0"}, {"periods_per_year", "252.0"}},
    "Annualized Sortino ratio of a returns series.").locking(Lock::BySize);
QUELM_PUBLIC(def_sortino);

constexpr FunctionDef def_max_drawdown = typed_in_vec<&max_drawdown_of>(
    "max_drawdown", {"prices"},
    "Maximum drawdown of a price series, as a dict.").locking(Lock::BySize);
QUELM_PUBLIC(def_max_drawdown);

constexpr FunctionDef def_value_at_risk = typed_in_vec<&value_at_risk_of>(
    "value_at_risk", {"returns", {"confidence", "0.95"}, {"method", "\"historical\""}},
    "Value-at-Risk (positive loss). `method` ∈ {`historical`, `parametric`,\n"
    "`cornish-fisher`}.\n"
    "\n"
    "The historical quantile orders NaN after every number, so a series holding\n"
    "NaN still gives a defined result (NaN once the quantile reaches a NaN).").locking(Lock::BySize);
QUELM_PUBLIC(def_value_at_risk);

constexpr FunctionDef def_expected_shortfall = typed_in_vec<&expected_shortfall_of>(
    "expected_shortfall", {"returns", {"confidence", "0.95"}, {"method", "\"historical\""}},
    "Expected Shortfall (positive loss). `method` ∈ {`historical`, `parametric`}.\n"
    "\n"
    "The historical quantile orders NaN after every number; NaN never joins the\n"
    "tail, and an empty tail (a NaN quantile) falls back to the smallest return.").locking(Lock::BySize);
QUELM_PUBLIC(def_expected_shortfall);

constexpr FunctionDef def_beta = typed_in_vec<&beta_of>(
    "beta", {"asset", "benchmark"},
    "Beta of an asset's returns against a benchmark's.").locking(Lock::BySize);
QUELM_PUBLIC(def_beta);

constexpr FunctionDef def_tracking_error = typed_in_vec<&tracking_error_of>(
    "tracking_error", {"portfolio", "benchmark", {"periods_per_year", "252.0"}},
    "Annualized tracking error of a portfolio vs a benchmark (returns series).").locking(Lock::BySize);
QUELM_PUBLIC(def_tracking_error);

constexpr FunctionDef def_info_ratio = typed_in_vec<&info_ratio_of>(
    "info_ratio", {"portfolio", "benchmark", {"periods_per_year", "252.0"}},
    "Annualized information ratio of a portfolio vs a benchmark (returns series).").locking(Lock::BySize);
QUELM_PUBLIC(def_info_ratio);

constexpr FunctionDef def_jarque_bera = typed<&jarque_bera_of>(
    "jarque_bera", {"values"},
    "Jarque-Bera normality test: `(statistic, p_value)`.").locking(Lock::BySize);
QUELM_PUBLIC(def_jarque_bera);

constexpr FunctionDef def_acf = typed<&acf_of>(
    "acf", {"values", "max_lag"},
    "Autocorrelation function for lags `0..=max_lag`.");
QUELM_PUBLIC(def_acf);

}  // namespace

}  // namespace quelm::py

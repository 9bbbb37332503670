// The statistics report: every descriptive, risk and performance statistic of one
// series in one call. A statistic that does not apply, or fails on the data, is absent.
// Rates are per period; `periods_per_year` annualises; `confidence` is the VaR level.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "quelm/core/cancel.hpp"
#include "quelm/core/error.hpp"

namespace quelm::stats {

struct ReportInput {
    std::span<const double> series;                      // returns, returns of the prices, or values
    bool values_only = false;                            // switches the return metrics off
    std::optional<std::span<const double>> prices;       // enables drawdown and Calmar
    std::optional<std::span<const double>> benchmark;    // benchmark returns, aligned with series
    double risk_free = 0.0;                              // also the Sortino target
    double periods_per_year = 252.0;
    double confidence = 0.95;
    std::optional<std::uint64_t> lag;
};

using Opt = std::optional<double>;

// One field per report key, in key order.
struct StatsReport {
    std::uint64_t count = 0;
    double periods_per_year = 0.0;
    double confidence = 0.0;
    double mean = 0.0;
    double variance = 0.0;
    double std_dev = 0.0;
    Opt skewness, excess_kurtosis, jarque_bera, jarque_bera_pvalue, autocorr_lag1, autocorr_at_lag;
    Opt cumulative_return, annualized_return, annualized_volatility, sharpe, sortino;
    Opt historical_var, historical_es, parametric_var, parametric_es, cornish_fisher_var;
    Opt max_drawdown;
    std::optional<std::uint64_t> max_drawdown_duration;
    Opt calmar;
    Opt covariance, correlation, beta, tracking_error, information_ratio;
};

// Fails only on an empty series ("mean: empty sample"). Each value has the same bits as
// the corresponding single computation; shared sums are taken once, in index order.
[[nodiscard]] Result<StatsReport> assemble(const ReportInput& in, Cancel& cancel = never_cancel());

// What a series holds: returns; prices (their returns are derived, and drawdown and Calmar
// enabled); or plain values (descriptive statistics only).
enum class Source : unsigned char { Returns, Prices, Values };

// The report of one series; `in` carries every setting but the series itself.
[[nodiscard]] Result<StatsReport> report_of(Source source, std::span<const double> series, ReportInput in,
                                            Cancel& cancel = never_cancel());

}  // namespace quelm::stats

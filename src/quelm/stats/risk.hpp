// Loss and performance measures of a return series (simple per-period returns).
// VaR and ES are positive losses (0.02 = a 2 % loss); `confidence` lies in (0, 1);
// `risk_free` and `mar` are per-period rates; `periods_per_year` annualises (> 0).
#pragma once

#include <span>

#include "quelm/core/error.hpp"
#include "quelm/stats/method.hpp"

namespace quelm::stats {

// -(empirical quantile at 1 - confidence); NaN sorts last (see quantile.hpp).
[[nodiscard]] Result<double> historical_var(std::span<const double> returns, double confidence);
// -(mean of the returns at or below that quantile).
[[nodiscard]] Result<double> historical_es(std::span<const double> returns, double confidence);
// -(sigma z + mu) with z the normal quantile at 1 - confidence.
[[nodiscard]] Result<double> parametric_var(std::span<const double> returns, double confidence);
// phi(z) sigma / (1 - confidence) - mu.
[[nodiscard]] Result<double> parametric_es(std::span<const double> returns, double confidence);
// Normal quantile corrected for skewness and excess kurtosis.
[[nodiscard]] Result<double> cornish_fisher_var(std::span<const double> returns, double confidence);

[[nodiscard]] Result<double> sharpe_ratio(std::span<const double> returns, double risk_free, double periods_per_year);
[[nodiscard]] Result<double> sortino_ratio(std::span<const double> returns, double mar, double periods_per_year);
// Annualised return of the prices' simple returns over their maximum drawdown.
[[nodiscard]] Result<double> calmar_ratio(std::span<const double> prices, double periods_per_year);
// Annualised standard deviation of the active returns p_i - b_i.
[[nodiscard]] Result<double> tracking_error(std::span<const double> portfolio, std::span<const double> benchmark,
                                            double periods_per_year);
// Annualised mean over standard deviation of the active returns.
[[nodiscard]] Result<double> information_ratio(std::span<const double> portfolio, std::span<const double> benchmark,
                                               double periods_per_year);

// The pieces the report shares with the measures above, so both give the same bits.
// z_cf from z, skewness s and excess kurtosis k.
[[nodiscard]] double cornish_fisher_z(double z, double s, double k);
// Standard normal density written as exp(-0.5 z z) / sqrt(2 pi).
[[nodiscard]] double density(double z);

}  // namespace quelm::stats

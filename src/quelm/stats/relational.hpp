// Dependence between two aligned series (population covariance, Pearson correlation,
// beta) and the sample autocorrelation of one series. Series are unitless per-period
// values; sums run in index order from -0.0.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "quelm/core/cancel.hpp"
#include "quelm/core/error.hpp"

namespace quelm::stats {

// Sigma (x_i - mx)(y_i - my) / n after the pair check under the name "covariance".
[[nodiscard]] Result<double> covariance(std::span<const double> x, std::span<const double> y);
// covariance / (sqrt(vx) * sqrt(vy)); "correlation: zero variance" when vx or vy <= 0.
[[nodiscard]] Result<double> correlation(std::span<const double> x, std::span<const double> y);
// covariance / population variance of the benchmark.
[[nodiscard]] Result<double> beta(std::span<const double> asset, std::span<const double> benchmark);

// Sigma_{i < n-lag} (x_{i+lag} - m)(x_i - m) / Sigma (x_i - m)^2; exactly 1 at lag 0.
[[nodiscard]] Result<double> autocorrelation(std::span<const double> x, std::uint64_t lag);
// Autocorrelations at lags 0..=max_lag; the first failing lag's error is returned.
[[nodiscard]] Result<std::vector<double>> acf(std::span<const double> x, std::uint64_t max_lag,
                                             Cancel& cancel = never_cancel());

// Numerator of the autocorrelation at lag (1 <= lag < n), for callers holding the mean.
[[nodiscard]] double lagged_cross_sum(std::span<const double> x, double m, std::size_t lag);

}  // namespace quelm::stats

// Population moments of one series: mean, variance, standard deviation (divisor n),
// skewness and excess kurtosis. Sums run in index order as one running total from -0.0,
// so every result is reproducible to the last bit; NaN passes every ordered test.
#pragma once

#include <span>

#include "quelm/core/error.hpp"

namespace quelm::stats {

// Index-order running sums shared by the statistics (no error, any length).
[[nodiscard]] double sum(std::span<const double> x);
// True when every value equals the first, a finite number. Such a series has variance
// exactly 0, though its computed mean may be off by rounding (0.1 * 3 / 3 is not 0.1).
[[nodiscard]] bool is_constant(std::span<const double> x);
// True when the differences x_i - y_i (equal lengths) all agree with the first to within
// the rounding of their operands: 0.11 - 0.01 and 0.12 - 0.02 differ only because 0.11 and
// 0.12 are not exact in binary. Such an active series has variance exactly 0.
[[nodiscard]] bool differences_constant(std::span<const double> x, std::span<const double> y);
// Sum of (x_i - m)^2 about the mean m of x, index order; exactly 0 for a constant series.
[[nodiscard]] double sum_squared_deviations(std::span<const double> x, double m);

// Sum / n; "mean: empty sample" for no elements.
[[nodiscard]] Result<double> mean(std::span<const double> x);
// Population variance (divisor n); a single element gives 0.
[[nodiscard]] Result<double> variance(std::span<const double> x);
[[nodiscard]] Result<double> std_dev(std::span<const double> x);

// m3 / m2^1.5 with population moments; needs two points and m2 > 0.
[[nodiscard]] Result<double> skewness(std::span<const double> x);
// m4 / m2^2 - 3 with population moments; needs two points and m2 > 0.
[[nodiscard]] Result<double> excess_kurtosis(std::span<const double> x);

}  // namespace quelm::stats

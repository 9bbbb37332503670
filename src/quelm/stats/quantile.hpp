// Empirical quantile of a return series (linear interpolation between order statistics
// at h = (n - 1)(1 - confidence)) and the mean of the tail at or below it.
// Ordering is total: NaN sorts after every number, so a series holding NaN still has a
// well-defined quantile (NaN as soon as an order statistic it uses is a NaN).
#pragma once

#include <span>

namespace quelm::stats {

// Requires a non-empty series; never modifies it (works on a private copy).
[[nodiscard]] double historical_quantile(std::span<const double> returns, double confidence);

// Mean of the returns r <= q in index order; when none qualifies (only with NaN data),
// the smallest value of the series in the order above.
[[nodiscard]] double tail_mean(std::span<const double> returns, double q);

}  // namespace quelm::stats

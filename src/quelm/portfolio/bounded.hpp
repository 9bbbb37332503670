// Mean-variance portfolios under per-asset weight bounds (lower_i <= w_i <= upper_i,
// weights summing to 1, ±inf for no bound): minimum variance, tangency (highest Sharpe
// ratio) and the frontier point of a target return, each the exact solution of a quadratic
// program (active_set.hpp). Means and the risk-free rate per period, as in optimize.hpp.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "quelm/core/cancel.hpp"
#include "quelm/core/error.hpp"
#include "quelm/portfolio/active_set.hpp"

namespace quelm::portfolio {

struct WeightBounds {
    std::vector<double> lower, upper;  // one entry per asset, or one for every asset when `shared`
    bool shared = false;
};

// The bounds for n assets: a shared pair repeated, each pair checked (no NaN, lower <=
// upper, lower < +inf, upper > -inf), and a fully invested portfolio possible (the lower
// bounds sum to at most 1, the upper ones to at least 1).
[[nodiscard]] Result<WeightBounds> expand_bounds(const WeightBounds& bounds, std::size_t n);

using CovSpan = std::span<const std::span<const double>>;

// The lowest-variance weights within the bounds.
[[nodiscard]] Result<std::vector<double>> bounded_min_variance(CovSpan cov, const WeightBounds& bounds,
                                                               Cancel& cancel = never_cancel());

// The weights of highest (mean - rf) / volatility within the bounds; an error when no
// portfolio within them earns more than rf.
[[nodiscard]] Result<std::vector<double>> bounded_tangency(CovSpan cov, std::span<const double> mean, double rf,
                                                           const WeightBounds& bounds, Cancel& cancel = never_cancel());

// The lowest-variance weights within the bounds with expected return `target`; an error
// when the bounds allow no such portfolio.
[[nodiscard]] Result<std::vector<double>> bounded_frontier_point(CovSpan cov, std::span<const double> mean,
                                                                 double target, const WeightBounds& bounds,
                                                                 Cancel& cancel = never_cancel());

// The same three on a covariance checked (finite entries) and prepared once, for a study
// that solves them all on one Σ.
[[nodiscard]] Result<QpCov> prepare_bounded(CovSpan cov);
[[nodiscard]] Result<std::vector<double>> bounded_min_variance(const QpCov& cov, const WeightBounds& bounds,
                                                               Cancel& cancel = never_cancel());
// `near` (empty: none): a portfolio within the bounds (the minimum-variance one, say) to start
// from when it earns more than rf.
[[nodiscard]] Result<std::vector<double>> bounded_tangency(const QpCov& cov, std::span<const double> mean, double rf,
                                                           const WeightBounds& bounds,
                                                           std::span<const double> near = {},
                                                           Cancel& cancel = never_cancel());
// `near`: portfolios within the bounds already solved on this Σ (the other two of the
// study, say); when two of them bracket the target, the program starts from their mix that
// earns it, holding the bounds both hold (the same optimum, found in fewer steps).
[[nodiscard]] Result<std::vector<double>> bounded_frontier_point(
    const QpCov& cov, std::span<const double> mean, double target, const WeightBounds& bounds,
    std::span<const std::span<const double>> near = {}, Cancel& cancel = never_cancel());

}  // namespace quelm::portfolio

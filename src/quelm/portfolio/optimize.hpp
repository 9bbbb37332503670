// Closed-form mean-variance portfolios (weights sum to 1, shorting allowed) from
// per-period expected returns μ and covariance Σ, by linear solves in Σ (no inverse); with
// per-asset weight bounds, the same three portfolios as quadratic programs (bounded.hpp).
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "quelm/core/cancel.hpp"
#include "quelm/core/error.hpp"
#include "quelm/portfolio/bounded.hpp"

namespace quelm::portfolio {

using CovRows = std::span<const std::span<const double>>;

// The order N of a non-empty square covariance with a mean of matching length.
[[nodiscard]] Result<std::size_t> check(CovRows cov, std::span<const double> mean);

// Global minimum-variance weights Σ⁻¹1 / 1ᵀΣ⁻¹1.
[[nodiscard]] Result<std::vector<double>> min_variance_weights(CovRows cov, Cancel& cancel = never_cancel());

// Tangency weights Σ⁻¹(μ - rf) normalised to sum 1; rf per period.
[[nodiscard]] Result<std::vector<double>> tangency_weights(CovRows cov, std::span<const double> mean, double rf,
                                                         Cancel& cancel = never_cancel());

// Frontier weights with expected return `target` (per period).
[[nodiscard]] Result<std::vector<double>> efficient_frontier_point(CovRows cov, std::span<const double> mean,
                                                                   double target, Cancel& cancel = never_cancel());

// The three portfolios of a mean-variance study; the frontier one only for a target.
struct Optimal {
    std::vector<double> min_variance, tangency;
    std::optional<std::vector<double>> frontier;
};

// Min-variance, then tangency, then (given a target) the frontier point: the first
// failure, in that order, is the error.
[[nodiscard]] Result<Optimal> optimize(CovRows cov, std::span<const double> mean, double rf,
                                       std::optional<double> target, Cancel& cancel = never_cancel());

// The same within per-asset bounds (none: the closed forms above, bit for bit). The bounds
// are checked after the covariance's shape and before the first portfolio.
[[nodiscard]] Result<Optimal> optimize(CovRows cov, std::span<const double> mean, double rf,
                                       std::optional<double> target, const std::optional<WeightBounds>& bounds,
                                       Cancel& cancel = never_cancel());

}  // namespace quelm::portfolio

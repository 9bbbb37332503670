// Risk building blocks for N aligned asset-return series (one series per asset,
// simple per-period returns): shape check, population covariance matrix (divisor T),
// weighted portfolio returns and the period variance w'Σw.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "quelm/core/cancel.hpp"
#include "quelm/core/error.hpp"

namespace quelm::portfolio {

using Series = std::span<const std::span<const double>>;
using Matrix = std::vector<std::vector<double>>;

// The common length T of the series.
[[nodiscard]] Result<std::size_t> check_matrix(Series series);

// Entry (i, j) is exactly the pairwise population covariance of series i and j:
// both means first, then the index-order sum of centred products, over T.
[[nodiscard]] Result<Matrix> covariance_matrix(Series series, Cancel& cancel = never_cancel());

// r_t = sum over assets of x_i[t] * w_i, accumulated asset by asset.
[[nodiscard]] Result<std::vector<double>> portfolio_returns(Series series, std::span<const double> weights);

// w'Σw summed row by row; a negative rounding residue is floored at 0, a NaN stays NaN.
[[nodiscard]] Result<double> portfolio_variance(Series cov, std::span<const double> weights);

}  // namespace quelm::portfolio

// Returns from prices and their compounding: simple returns, cumulative and annualised
// return, annualised volatility. Returns are simple per-period fractions (0.01 = +1 %);
// `periods_per_year` is the number of periods in a year (> 0).
#pragma once

#include <span>
#include <vector>

#include "quelm/core/error.hpp"

namespace quelm::stats {

// r_i = p_{i+1} / p_i - 1; needs two prices, all > 0 (NaN passes).
[[nodiscard]] Result<std::vector<double>> simple_returns(std::span<const double> prices);
// Prod(1 + r_i) - 1.
[[nodiscard]] Result<double> cumulative_return(std::span<const double> returns);
// Prod(1 + r_i)^(periods_per_year / n) - 1.
[[nodiscard]] Result<double> annualized_return(std::span<const double> returns, double periods_per_year);
// sqrt(periods_per_year) * population standard deviation.
[[nodiscard]] Result<double> annualized_volatility(std::span<const double> returns, double periods_per_year);

// Prod(1 + r_i) in index order from 1.0 (no checks).
[[nodiscard]] double growth(std::span<const double> returns);
// The annualisation step of annualized_return from a known growth factor.
[[nodiscard]] Result<double> annualize_growth(double g, std::size_t n, double periods_per_year);

}  // namespace quelm::stats

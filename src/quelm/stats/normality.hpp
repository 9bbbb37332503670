// Jarque-Bera test of normality from the population skewness S and excess kurtosis K:
// JB = (K^2 / 4 + S^2) n / 6, p = exp(-JB / 2) (chi-square with two degrees of freedom).
#pragma once

#include <cstddef>
#include <span>

#include "quelm/core/error.hpp"

namespace quelm::stats {

struct JarqueBera {
    double statistic;
    double p_value;
};

[[nodiscard]] Result<JarqueBera> jarque_bera(std::span<const double> x);
// The statistic from known moments, as the report computes it.
[[nodiscard]] JarqueBera jarque_bera_from(double skew, double kurt, std::size_t n);

}  // namespace quelm::stats

// Polynomial least squares by the normal equations in the monomial basis;
// coefficients come back in ascending powers c0 + c1*x + ... + cd*x^d.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "quelm/core/error.hpp"

namespace quelm {

[[nodiscard]] Result<std::vector<double>> poly_least_squares(std::span<const double> xs,
                                                             std::span<const double> ys, std::size_t degree);

}  // namespace quelm

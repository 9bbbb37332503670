// Dense linear solves for small systems: Gaussian elimination with partial
// pivoting on an augmented matrix, and a checked A*x = b front end.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "quelm/core/cancel.hpp"
#include "quelm/core/error.hpp"

namespace quelm {

// Solves the n x (n+1) augmented system, consuming it. An interrupted solve fails as
// "interrupted". Numerical errors for a
// pivot below 1e-300 or a non-finite solution component.
[[nodiscard]] Result<std::vector<double>> gaussian_solve(std::vector<std::vector<double>> augmented,
                                                         std::size_t n, Cancel& cancel = never_cancel());

// Checks shapes (non-empty, square, rhs length) and solves matrix * x = rhs.
[[nodiscard]] Result<std::vector<double>> solve_linear_system(std::span<const std::span<const double>> matrix,
                                                              std::span<const double> rhs,
                                                              Cancel& cancel = never_cancel());

}  // namespace quelm

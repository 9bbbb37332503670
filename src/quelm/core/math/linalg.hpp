// Dense linear solves for small systems: Gaussian elimination with partial
// pivoting on an augmented matrix, and a checked A*x = b front end.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "quelm/core/cancel.hpp"
#include "quelm/core/error.hpp"

namespace quelm {

// Solves the n x (n+1) augmented system, consuming it. Numerical errors for a
// pivot below `pivot_floor` or a non-finite solution component; a stopped solve
// fails as cancelled.
[[nodiscard]] Result<std::vector<double>> gaussian_solve(std::vector<std::vector<double>> augmented,
                                                         std::size_t n, double pivot_floor = 1e-300,
                                                         Cancel& cancel = never_cancel());

// The same with `columns` right-hand sides (the n x (n + columns) augmented system): one
// elimination, and each solution has the bits gaussian_solve gives it alone.
[[nodiscard]] Result<std::vector<std::vector<double>>> gaussian_solve_many(std::vector<std::vector<double>> augmented,
                                                                           std::size_t n, std::size_t columns,
                                                                           double pivot_floor = 1e-300,
                                                                           Cancel& cancel = never_cancel());

// gaussian_solve's operations, so its bits, on a flat row-major n x (n + 1) buffer, in place
// and without allocating (small systems solved many times): x receives the solution. False
// for a pivot below `pivot_floor` or a non-finite component.
[[nodiscard]] bool gaussian_solve_flat(std::span<double> augmented, std::size_t n, std::span<double> x,
                                       double pivot_floor = 1e-300);

// Checks shapes (non-empty, square, rhs length) and solves matrix * x = rhs. A pivot
// within rounding of zero relative to the matrix (below n * eps * max |a_ij|) means a
// singular matrix: a perfectly correlated covariance leaves a pivot of pure rounding.
[[nodiscard]] Result<std::vector<double>> solve_linear_system(std::span<const std::span<const double>> matrix,
                                                              std::span<const double> rhs,
                                                              Cancel& cancel = never_cancel());
// Several right-hand sides of one matrix: one elimination, each solution with the bits of
// its own solve_linear_system.
[[nodiscard]] Result<std::vector<std::vector<double>>> solve_linear_systems(
    std::span<const std::span<const double>> matrix, std::span<const std::span<const double>> rhs,
    Cancel& cancel = never_cancel());

}  // namespace quelm

// Bounded nonlinear least squares: Levenberg-Marquardt with box bounds (each trial step
// projected into the box), a forward-difference Jacobian (or one given) and Marquardt's diagonal scaling.
// Deterministic: the same residual function and start give the same bits.
#pragma once

#include <cstddef>
#include <functional>
#include <span>
#include <vector>

#include "quelm/core/cancel.hpp"
#include "quelm/core/error.hpp"
#include "quelm/core/math/solve_status.hpp"

namespace quelm {

// Writes the m residuals at x; an error stops the fit and is returned.
using Residuals = std::function<Status(std::span<const double> x, std::span<double> r)>;

// Writes the m residuals at x and their m x n Jacobian (row-major: jac[i * n + j] = dr_i / dx_j).
using ResidualsJacobian = std::function<Status(std::span<const double> x, std::span<double> r, std::span<double> jac)>;

struct LsqSettings {
    std::size_t max_iterations = 200;
    double ftol = 1e-12;  // stop when a step lowers the cost by less than this fraction
    double xtol = 1e-10;  // ... or moves every parameter by less than this (relative)
    double gtol = 1e-14;  // ... or the projected gradient is this small (relative to the cost)
    double cost_floor = 0.0;  // ... or the cost is at or below this (residuals down to rounding)
    double damping = 1e-3;    // the first step's Marquardt damping (small: a start trusted to be near)
};

struct LsqFit {
    std::vector<double> x;
    std::vector<double> residuals;
    double cost;  // sum of squared residuals
    std::size_t iterations;
    // Converged (a tolerance met), Stalled (no damped step lowers the cost: a local minimum
    // to rounding) or MaxIterations.
    SolveStatus status;
    // What a fit reports as converged: anything but the iteration limit.
    [[nodiscard]] bool converged() const { return status != SolveStatus::MaxIterations; }
};

// A fit's errors in its quotes' own units, from the residuals (model minus quote): the
// weighted root-mean-square error and the largest absolute error, NaN residuals left out
// (rmse NaN when none is left). `weights` empty means 1 for every quote.
struct FitErrors {
    double rmse;
    double max_error;
};
[[nodiscard]] FitErrors fit_errors(std::span<const double> residuals, std::span<const double> weights);

// Minimises sum r_i(x)^2 over lower <= x <= upper from x0 (clamped into the box).
// m is the number of residuals. Polls `cancel` once per iteration and per Jacobian column.
[[nodiscard]] Result<LsqFit> bounded_least_squares(const Residuals& f, std::vector<double> x0,
                                                   std::span<const double> lower, std::span<const double> upper,
                                                   std::size_t m, const LsqSettings& settings, Cancel& cancel);

// The same with the Jacobian given: one evaluation per trial step instead of n + 1.
[[nodiscard]] Result<LsqFit> bounded_least_squares(const ResidualsJacobian& f, std::vector<double> x0,
                                                   std::span<const double> lower, std::span<const double> upper,
                                                   std::size_t m, const LsqSettings& settings, Cancel& cancel);

}  // namespace quelm

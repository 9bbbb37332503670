// Tridiagonal solves for the finite-difference engines: the plain Thomas sweep, and the
// Brennan-Schwartz sweep for the linear complementarity problem A v >= b, v >= floor, one of
// them tight at each row, whose free boundary is a single point. Row i reads
// lower[i] v[i-1] + diag[i] v[i] + upper[i] v[i+1] (lower[0] and upper[n-1] unused).
#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace quelm::fd {

struct Tridiagonal {
    std::span<const double> lower, diag, upper;
};

// Solves A v = rhs into v; work holds n values.
void solve_tridiagonal(const Tridiagonal& a, std::span<const double> rhs, std::span<double> v,
                       std::span<double> work);

// A matrix factored once for many right-hand sides (the LU sweep's multipliers and pivots'
// reciprocals), so that each solve multiplies only.
struct FactoredTridiagonal {
    std::vector<double> lower, ratio, inverse;
    void factor(const Tridiagonal& a);
    // v = A^-1 rhs, reading rhs[k * stride] and writing v[k * stride] for each row k.
    void solve(const double* rhs, double* v, std::size_t stride) const;
};

// Where the floor binds: at the low rows (a put's exercise region) or the high rows (a call's).
enum class FloorSide : unsigned char { Low, High };

// Solves the complementarity problem exactly when the exercise region is one end of the grid
// (an M-matrix A and a payoff monotone across that end): the elimination runs from the other
// end, and the substitution from the exercise end takes max(value, floor) row by row.
void solve_with_floor(const Tridiagonal& a, std::span<const double> rhs, std::span<const double> floor,
                      FloorSide side, std::span<double> v, std::span<double> work);

}  // namespace quelm::fd

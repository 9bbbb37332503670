// The quadratic program behind the bounded mean-variance portfolios, in holdings y scaled
// by a budget κ = 1ᵀy (weights w = y / κ):
//
//   minimise ½ yᵀΣy  subject to  aᵀy + a_κ κ = r for each row,  κ = 1ᵀy,
//                                lower_i κ <= y_i <= upper_i κ  (±inf: no bound).
//
// With κ pinned to 1 by a row this is the fully invested portfolio with bounds; leaving κ
// free and fixing the excess return to 1 gives the tangency portfolio. Solved exactly (to
// rounding) by a primal active-set method: each step solves the equality problem with the
// assets of the working set held at their bounds, through the Cholesky factor of Σ on the
// others (kept current as the working set changes, core/math/subset_cholesky.hpp) and a
// system of one row per constraint, or, where that factor breaks down, the whole dense KKT
// system.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "quelm/core/cancel.hpp"
#include "quelm/core/error.hpp"
#include "quelm/core/math/subset_cholesky.hpp"

namespace quelm::portfolio {

// One linear equality: yᵀ·y + kappa·κ = rhs.
struct QpRow {
    std::vector<double> y;
    double kappa;
    double rhs;
};

struct BudgetQp {
    std::span<const std::span<const double>> cov;  // Σ, n x n (its symmetric part is used)
    std::span<const double> lower, upper;          // per asset; lower <= upper
    std::vector<QpRow> rows;                       // besides κ = 1ᵀy, which always holds
};

// Which bound holds an asset: none, the lower or the upper one.
enum class Held : signed char { Free = 0, Lower = -1, Upper = 1 };

struct QpPoint {
    std::vector<double> y;
    double kappa = 1.0;
    std::vector<Held> held;  // at the solution: the assets the working set holds at a bound
};

// Σ as the programs use it, made once for the programs of one study: its symmetric part
// scaled to a largest entry of 1 (row-major), and that matrix's Cholesky factor, from which
// every program's first working set (all assets free) starts. Not copyable: the factor
// refers to `s`, whose storage a move keeps.
struct QpCov {
    std::size_t n = 0;
    std::vector<double> s;
    SubsetCholesky full;

    explicit QpCov(std::span<const std::span<const double>> cov);
    QpCov(const QpCov&) = delete;
    QpCov& operator=(const QpCov&) = delete;
    QpCov(QpCov&&) = default;
};

// Solves the program from a feasible start (y, κ). Numerical errors when Σ is singular on
// the free assets ("linear solve: ...") or the iteration does not settle.
[[nodiscard]] Result<QpPoint> solve_budget_qp(const BudgetQp& qp, std::vector<double> y, double kappa,
                                              Cancel& cancel = never_cancel());
// The same on a prepared Σ (qp.cov's); `held` (empty: none) is a first working set, each
// asset it holds at its bound in the start.
[[nodiscard]] Result<QpPoint> solve_budget_qp(const BudgetQp& qp, const QpCov& cov, std::vector<double> y,
                                              double kappa, std::vector<Held> held, Cancel& cancel = never_cancel());

}  // namespace quelm::portfolio

// The Jacobian of a bootstrap's repricing equations in its unknowns, kept for Newton steps
// and for bucketed risk (solves with J and Jᵀ).
//
// On a global interpolation (natural cubic, monotone convex) J = A W: A holds each equation's
// derivatives in ln P at the dates it reads (sparse, as many entries as the quotes' flows),
// W the map from the unknowns to ln P at those dates. The cubic's W is dense, but its
// products are a spline through the vector (O(n)), and Wᵀ's one sweep of the spline system's
// adjoint. So J is never formed: GMRES solves with it, preconditioned by the same A with the
// weights of the local interpolation (linear zero rates under the cubic, log-linear under
// monotone convex), a lower-triangular matrix solved by substitution. Each solve then costs a
// few dozen products, O(flows + n) each, instead of a dense O(n³) factoring.
#pragma once

#include <optional>
#include <span>
#include <variant>
#include <vector>

#include "quelm/core/cancel.hpp"
#include "quelm/core/error.hpp"
#include "quelm/core/math/interpolate.hpp"
#include "quelm/core/math/sparse_triangular.hpp"

namespace quelm::curves {

class GlobalJacobian {
public:
    // a: n rows over the queries; spline (natural cubic, on zero rates with node 0 tied to the
    // first unknown) or w (monotone convex: W's sparse rows, one per query); preconditioner:
    // A with the local weights, factored.
    GlobalJacobian(SparseRows a, std::vector<double> nodes, std::vector<double> query_times,
                   std::optional<SplineWeights> spline, SparseRows w, MatrixFactors preconditioner);

    // b <- J⁻¹ b and b <- J⁻ᵀ b, to a residual of `tol` relative (or the rounding floor).
    [[nodiscard]] Status solve(std::span<double> b, double tol, Cancel& cancel) const;
    [[nodiscard]] Status solve_transposed(std::span<double> b, double tol, Cancel& cancel,
                                          double* achieved = nullptr) const;
    [[nodiscard]] std::size_t size() const { return n_; }

private:
    void apply(std::span<const double> x, std::span<double> out) const;
    void apply_transposed(std::span<const double> x, std::span<double> out) const;
    void w_times(std::span<const double> x, std::span<double> lq) const;         // lq = W x
    void w_transposed(std::span<const double> g, std::span<double> out) const;   // out = Wᵀ g

    std::size_t n_;
    SparseRows a_;
    std::vector<double> nodes_, query_times_;
    std::optional<SplineWeights> spline_;
    SparseRows w_;
    MatrixFactors pre_;
};

// The Jacobian a bootstrapped curve keeps: factored (local interpolations, exactly lower
// triangular; or dense, with a bootstrapped discount curve), or a global one.
class BootstrapJacobian {
public:
    explicit BootstrapJacobian(MatrixFactors f) : j_(std::move(f)) {}
    explicit BootstrapJacobian(GlobalJacobian g) : j_(std::move(g)) {}

    // b <- J⁻ᵀ b (as exact as a dense LU solve); a global solve that stalls short of that is
    // a numerical error, never a less accurate risk.
    [[nodiscard]] Status solve_transposed(std::span<double> b) const;

private:
    std::variant<MatrixFactors, GlobalJacobian> j_;
};

}  // namespace quelm::curves

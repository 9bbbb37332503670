// The global solve of a bootstrap (natural cubic, monotone convex): Newton on every pillar at
// once from a start, each step solved with the Jacobian by preconditioned GMRES
// (bootstrap_jacobian.hpp). Internal to the bootstrap.
#pragma once

#include <optional>
#include <vector>

#include "quelm/core/math/monotone_convex.hpp"
#include "quelm/curves/bootstrap_jacobian.hpp"
#include "quelm/curves/bootstrap_problem.hpp"

namespace quelm::curves::detail {

// ln P at every query of a global interpolation (natural cubic, monotone convex) in the
// unknowns, and its Jacobian (bootstrap_jacobian.hpp).
struct GlobalModel {
    Interp interp;
    const Problem* p;
    Rows preconditioning;                 // the local interpolation's rows
    std::optional<SplineWeights> spline;  // natural cubic: the nodes' weights
    Rows rows;                            // monotone convex: W's rows at the last evaluation

    [[nodiscard]] static Result<GlobalModel> create(Interp interp, const Problem& p);
    // L, D at every query; with_rows: W's rows too (monotone convex).
    [[nodiscard]] Status evaluate(std::span<const double> u, std::vector<double>& L, std::vector<double>& D,
                                  bool with_rows);
    // The Jacobian at the last evaluation (with derivatives, and rows on monotone convex).
    [[nodiscard]] Result<GlobalJacobian> jacobian(const Problem& prob, Cancel& cancel) const;
};

// Newton on every pillar from u (the solution on exit), with a halving line search; errors
// name the quote the curve cannot reprice. Polls Ctrl-C between the evaluations.
[[nodiscard]] Status solve_global(Problem& p, GlobalModel& model, std::vector<double>& u, Cancel& cancel);

}  // namespace quelm::curves::detail

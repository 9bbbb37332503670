// An instrument laid out on dates (layout.hpp) read on a pair of curves: the times and
// discount factors at its dates, and the chain from a value's derivatives in those
// discount factors to its gradient in each curve's node values (curve_gradient.hpp).
#pragma once

#include <span>
#include <vector>

#include "quelm/core/error.hpp"
#include "quelm/curves/curve.hpp"
#include "quelm/curves/curve_gradient.hpp"
#include "quelm/curves/layout.hpp"

namespace quelm::curves {

// The curve that projects forwards and the one that discounts payments (may be one curve).
struct CurvePair {
    const YieldCurve* projection = nullptr;
    const YieldCurve* discount = nullptr;
};

struct Reading {
    std::vector<double> tp, dp;  // projection: times and discount factors at Layout::proj
    std::vector<double> td, dd;  // discount: at Layout::disc
};

// Fails as the curves do (a date before the reference, outside non-extrapolating pillars).
[[nodiscard]] Result<Reading> read_curves(const Layout& l, const CurvePair& curves);

// node_grad[j] += Σ_i adjoint_i · dfs_i · ∂ln P(times_i)/∂y_j: a value's gradient in the
// curve's node values from its derivatives in the discount factors.
[[nodiscard]] Status chain_to_nodes(const CurveGradient& g, std::span<const double> times, std::span<const double> dfs,
                                    std::span<const double> adjoint, std::span<double> node_grad);

}  // namespace quelm::curves

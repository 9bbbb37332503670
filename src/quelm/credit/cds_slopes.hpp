// The exact risk of a CDS: its value's slopes in each quote its credit curve was
// bootstrapped from and in the discount factors its legs read, by the implicit function
// theorem instead of bump and rebuild. The bootstrap solves G_k(h_1..h_k, q_k, P) = 0 for
// each pillar k in turn (G_k the quote's residual, bootstrap.hpp), so dG/dh is lower
// triangular and one back substitution gives λ from (dG/dh)^T λ = dV/dh; then
// dV/dq_k = -λ_k dG_k/dq_k and dV/dP = ∂V/∂P - Σ_k λ_k ∂G_k/∂P: the hazards rebuilt on the
// moved discount curve, spreads held. Every partial derivative is analytic (leg_slopes.hpp).
#pragma once

#include <vector>

#include "quelm/core/error.hpp"
#include "quelm/credit/cds.hpp"
#include "quelm/credit/credit_curve.hpp"
#include "quelm/curves/curve.hpp"
#include "quelm/curves/layout.hpp"

namespace quelm::credit {

struct CdsSlopes {
    // Per unit of each of the curve's quotes, by maturity (a spread, or an upfront per unit
    // notional); empty for a curve not bootstrapped.
    std::vector<double> quotes;
    // The value's slope in the discount factor of each date (dates may repeat), in currency
    // to the side held; on a bootstrapped curve with the hazards rebuilt on the moved
    // discount curve.
    std::vector<curves::Flow> discount;
};

// A bootstrapped curve must have been built on `discount` (or a curve equal to it): an
// error otherwise, since its hazards would move with another curve. Errors start "cds: ".
[[nodiscard]] Result<CdsSlopes> cds_slopes(const Cds& cds, const CreditCurve& credit,
                                           const curves::YieldCurve& discount);

}  // namespace quelm::credit

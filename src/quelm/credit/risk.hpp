// The risk of a CDS on a bootstrapped credit curve, each figure by rebuilding the curves on
// shifted inputs (bump and rebuild) and repricing: the change of the contract's value, in
// currency to the side held.
#pragma once

#include <vector>

#include "quelm/core/cancel.hpp"
#include "quelm/core/error.hpp"
#include "quelm/credit/cds.hpp"
#include "quelm/credit/credit_curve.hpp"

namespace quelm::credit {

struct CdsRisk {
    double npv = 0.0;
    // Per +1bp of each credit quote, by maturity: a spread up 0.0001, an upfront up 0.0001
    // of notional.
    std::vector<double> cs01;
    // Per +1bp of each rate quote of the discount curve (a future's price down 0.01), in the
    // order of its instruments; the credit curve rebuilt on it. Empty when the discount
    // curve was not bootstrapped.
    std::vector<double> ir01;
    // Per +0.01 of recovery, the contract's and the curve's, the curve rebuilt.
    double recovery01 = 0.0;
    // On default now: the loss paid less the accrued coupon, less the value lost.
    double jump_to_default = 0.0;
};

// Errors start "cds risk: " (a curve that was not bootstrapped, a bond in the discount curve).
[[nodiscard]] Result<CdsRisk> cds_risk(const Cds& cds, const CreditCurve& credit, Cancel& cancel);

}  // namespace quelm::credit

// The market's quote conversion (the standard model's converter): a flat hazard rate fitted
// to one quote of a contract, which then prices the contract's other quote. A spread's
// upfront is that of the contract paying its own coupon on the flat curve at which the
// spread is the par spread; an upfront's spread is the par spread of the flat curve at
// which the contract's clean upfront is the one quoted.
#pragma once

#include "quelm/core/error.hpp"
#include "quelm/credit/cds.hpp"
#include "quelm/curves/curve.hpp"

namespace quelm::credit {

// The upfront the side held pays, as cds_upfront (clean or dirty, in currency or points).
[[nodiscard]] Result<double> upfront_from_spread(const Cds& cds, double spread, const curves::YieldCurve& discount,
                                                 bool clean, bool points);
// `upfront` clean, per unit notional, paid by the buyer.
[[nodiscard]] Result<double> spread_from_upfront(const Cds& cds, double upfront, const curves::YieldCurve& discount);

}  // namespace quelm::credit

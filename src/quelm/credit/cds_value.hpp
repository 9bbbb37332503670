// What a CDS is worth on a credit curve and a discount curve (the ISDA standard model, see
// isda_legs.hpp): amounts in currency to the side held (notional × the per-unit figures,
// negated for the seller); spreads and annuities per unit notional.
#pragma once

#include "quelm/core/error.hpp"
#include "quelm/credit/cds.hpp"
#include "quelm/credit/credit_curve.hpp"
#include "quelm/curves/curve.hpp"

namespace quelm::credit {

// Value at the trade date: protection less the coupons (in full from the first period's
// start) and the accrual on default.
[[nodiscard]] Result<double> cds_npv(const Cds& cds, const CreditCurve& credit, const curves::YieldCurve& discount);
// The coupon that prices the contract at a zero clean upfront.
[[nodiscard]] Result<double> cds_par_spread(const Cds& cds, const CreditCurve& credit,
                                            const curves::YieldCurve& discount);
// Paid by the side held at cash settlement, clean (before the accrued rebate) or dirty
// (the cash amount); points: per 100 of notional instead of in currency.
[[nodiscard]] Result<double> cds_upfront(const Cds& cds, const CreditCurve& credit, const curves::YieldCurve& discount,
                                         bool clean, bool points);
// The accrued coupon at step-in, in currency to the side held (the buyer receives it).
[[nodiscard]] double cds_accrued(const Cds& cds);
// The clean risky annuity at cash settlement, per unit notional and coupon.
[[nodiscard]] Result<double> cds_rpv01(const Cds& cds, const CreditCurve& credit, const curves::YieldCurve& discount);

}  // namespace quelm::credit

// The two legs of a CDS in the ISDA standard model, per unit notional, valued at the trade
// date: on each interval between consecutive dates of the union of both curves' nodes
// (cut at the leg's ends) the discount factor and the survival are exponential in time,
// so the integrals have closed forms, taken by their Taylor series where the sum of the
// interval's forward rate and hazard (times its length) is below 1e-4 in size.
#pragma once

#include <vector>

#include "quelm/core/error.hpp"
#include "quelm/credit/cds.hpp"
#include "quelm/credit/credit_curve.hpp"
#include "quelm/curves/curve.hpp"

namespace quelm::credit {

struct Legs {
    double protection = 0.0;  // (1 - recovery) × E[discounted default payment]
    double annuity = 0.0;     // premium and accrual on default per unit of coupon, full first coupon
    double settle_discount = 1.0;  // P(cash settlement)
};

// The discount curve's node dates: a bootstrapped curve's pillars, else the pillar times of
// a dated act/365f curve as dates; none otherwise (log-linear between its own dates only).
[[nodiscard]] std::vector<Serial> discount_nodes(const curves::YieldCurve& discount);

// Errors start "cds: " (a curve of another trade date, a discount curve without one).
[[nodiscard]] Result<Legs> isda_legs(const Cds& cds, const CreditCurve& credit, const curves::YieldCurve& discount,
                                     const std::vector<Serial>& discount_nodes);

// The clean upfront per unit notional, to the buyer: (protection - coupon × annuity) at the
// settlement date plus the accrued coupon rebated.
[[nodiscard]] inline double clean_upfront(const Legs& l, double coupon, double accrued) {
    return (l.protection - coupon * l.annuity) / l.settle_discount + coupon * accrued;
}
// The clean risky annuity at the settlement date, per unit of coupon: what a basis point
// of spread is worth per 1e-4.
[[nodiscard]] inline double clean_rpv01(const Legs& l, double accrued) {
    return l.annuity / l.settle_discount - accrued;
}

}  // namespace quelm::credit

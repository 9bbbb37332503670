// The two legs of a CDS in the ISDA standard model, per unit notional, valued at the trade
// date: on each interval between consecutive dates of the union of both curves' nodes
// (cut at the leg's ends) the discount factor and the survival are exponential in time,
// so the integrals have closed forms, taken by their Taylor series where the sum of the
// interval's forward rate and hazard (times its length) is below 1e-4 in size.
//
// A contract's grid (its dates, their times and discount factors) is laid out once for a
// discount curve and a set of credit nodes; the legs are then sums over the survivals at
// its dates, so a bootstrap re-evaluates only the terms its last hazard moves.
#pragma once

#include <cstdint>
#include <span>
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

struct LegGrid {
    struct Point {
        Serial date;
        double t, log_p;
    };
    // An interval [a, b] of points; t_start: the accrual's start time (accrual on default).
    struct Span {
        std::uint32_t a, b;
        double t_start;
    };
    // A coupon: accrual × P(payment), paid on survival to point `obs`.
    struct Coupon {
        double weight;
        std::uint32_t obs;
        Serial payment;
        double discount;  // P(payment)
    };
    std::vector<Point> points;
    std::vector<Span> protection, accrual;
    std::vector<Coupon> coupons;
    double loss = 0.6;  // 1 - recovery
    double settle_discount = 1.0;
    Serial settlement = 0;  // the cash settlement date
};

// The discount curve's node dates: a bootstrapped curve's pillars, else the pillar times of
// a dated act/365f curve as dates; none otherwise (log-linear between its own dates only).
struct DiscountNodes {
    std::vector<Serial> owned;
    std::span<const Serial> dates;  // into the curve's state, or `owned`
    DiscountNodes() = default;
    DiscountNodes(const DiscountNodes&) = delete;
    DiscountNodes& operator=(const DiscountNodes&) = delete;
};
void discount_nodes(const curves::YieldCurve& discount, DiscountNodes& out);

// ln Q at the grid's points and P × Q there.
struct Survivals {
    std::vector<double> log_q, pq;
};

// Errors start "cds: " (a discount curve without a reference date, or not reaching a date).
[[nodiscard]] Result<LegGrid> leg_grid(const Cds& cds, const curves::YieldCurve& discount,
                                       std::span<const Serial> credit_nodes, std::span<const Serial> discount_nodes);

// The survivals at the grid's points after `after` (all of them when before the trade date).
void survivals(const LegGrid& g, const HazardView& h, Serial after, Survivals& s);
// The legs' terms whose interval ends after `after` (moving = true) or on or before it.
[[nodiscard]] Legs leg_sums(const LegGrid& g, const Survivals& s, Serial after, bool moving);

// Both legs on the curves. Errors start "cds: " (a curve of another trade date, ...).
[[nodiscard]] Result<Legs> isda_legs(const Cds& cds, const CreditCurve& credit, const curves::YieldCurve& discount);

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

// The slopes of a CDS's two legs (isda_legs.hpp) in what they read: each hazard rate of
// the credit curve and the discount factor at each date of the grid. Analytic: every
// interval's term is P(a) Q(a) (ln Q(a) - ln Q(b)) times a function of the interval's
// f + h (its series near zero, as the legs take it), so its derivatives in ln P and ln Q
// at both ends are closed forms; ln Q at a point is -H(t), linear in each hazard.
#pragma once

#include <span>
#include <vector>

#include "quelm/core/error.hpp"
#include "quelm/credit/cds.hpp"
#include "quelm/credit/credit_curve.hpp"
#include "quelm/credit/isda_legs.hpp"
#include "quelm/curves/curve.hpp"
#include "quelm/curves/layout.hpp"

namespace quelm::credit {

// A contract's grid on both curves, its survivals and legs.
struct PricedGrid {
    LegGrid grid;
    Survivals survivals;
    Legs legs;
};
// Errors as isda_legs's.
[[nodiscard]] Result<PricedGrid> priced_grid(const Cds& cds, const CreditCurve& credit,
                                             const curves::YieldCurve& discount);

// The slopes of wp × protection + wa × annuity: per hazard rate of the curve (its node
// times `node_times`), and per discount factor at the grid's dates after the trade date
// (amounts that may repeat a date), appended to `discount`.
void leg_slopes(const PricedGrid& p, std::span<const double> node_times, double wp, double wa,
                std::span<double> hazards, std::vector<curves::Flow>& discount);

}  // namespace quelm::credit

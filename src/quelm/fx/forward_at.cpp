#include "quelm/fx/forward_at.hpp"

namespace quelm::fx {

namespace {

// P(from, to) on one curve.
Result<double> discount_between(const curves::YieldCurve& c, std::optional<dates::Serial> from, dates::Serial to) {
    QUELM_TRY(p_to, c.discount_on(to));
    if (!from) return p_to;
    QUELM_TRY(p_from, c.discount_on(*from));
    return p_to / p_from;
}

}  // namespace

Result<DatedForward> fx_forward_at(double spot, dates::Serial date, const curves::YieldCurve& domestic_curve,
                                   const curves::YieldCurve& foreign_curve, std::optional<dates::Serial> spot_date) {
    if (!(spot > 0.0)) return invalid("spot must be > 0");
    if (spot_date && date < *spot_date) return invalid("the date must not be before the spot date");
    QUELM_TRY(pd, discount_between(domestic_curve, spot_date, date));
    QUELM_TRY(pf, discount_between(foreign_curve, spot_date, date));
    const double forward = spot * pf / pd;
    return DatedForward{forward, (forward - spot) * 1e4, pd, pf};
}

}  // namespace quelm::fx

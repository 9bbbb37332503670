#include "quelm/fx/dated_smile.hpp"

#include "quelm/core/math/elementary.hpp"

namespace quelm::fx {

Result<DatedTerms> dated_terms(dates::Serial expiry, const curves::YieldCurve& domestic_curve,
                               const curves::YieldCurve& foreign_curve) {
    QUELM_TRY(t, domestic_curve.time_of(expiry));
    if (!(t > 0.0)) return invalid("the expiry must be after the domestic curve's reference date");
    QUELM_TRY(pd, domestic_curve.discount_on(expiry));
    QUELM_TRY(pf, foreign_curve.discount_on(expiry));
    return DatedTerms{t, -quelm::log(pd) / t, -quelm::log(pf) / t};
}

}  // namespace quelm::fx

// The market of a smile at an expiry date off two dated yield curves: the time to expiry on
// the domestic curve's day count, and the two rates as the continuously compounded zero
// rates over that time that give the curves' discount factors, so the smile's forward is
// S P_f(expiry) / P_d(expiry) exactly.
#pragma once

#include "quelm/core/error.hpp"
#include "quelm/curves/curve.hpp"
#include "quelm/dates/serial.hpp"

namespace quelm::fx {

struct DatedTerms {
    double t, domestic_rate, foreign_rate;
};

// Both curves dated; the expiry after the domestic curve's reference date.
[[nodiscard]] Result<DatedTerms> dated_terms(dates::Serial expiry, const curves::YieldCurve& domestic_curve,
                                             const curves::YieldCurve& foreign_curve);

}  // namespace quelm::fx

// The FX forward to a date off two yield curves: F = S P_f(d) / P_d(d), the spot taken for
// value on the curves' reference date, or on a spot date given (the usual T+2), in which case
// both discount factors are taken forward from it. Forward points in pips of 1e-4.
#pragma once

#include <optional>

#include "quelm/core/error.hpp"
#include "quelm/curves/curve.hpp"
#include "quelm/dates/serial.hpp"

namespace quelm::fx {

struct DatedForward {
    double forward;
    double points;             // (F - S) * 10^4
    double domestic_discount;  // P_d(spot date, date)
    double foreign_discount;   // P_f(spot date, date)
};

// spot > 0; both curves dated (a reference date), the date not before the spot date.
[[nodiscard]] Result<DatedForward> fx_forward_at(double spot, dates::Serial date,
                                                 const curves::YieldCurve& domestic_curve,
                                                 const curves::YieldCurve& foreign_curve,
                                                 std::optional<dates::Serial> spot_date);

}  // namespace quelm::fx

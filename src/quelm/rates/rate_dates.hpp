// What every rate option reads off its curves: the pair it prices on (forwards and
// discounting), their common reference date (the trade date), and the vol time of a date.
#pragma once

#include "quelm/core/error.hpp"
#include "quelm/curves/curve.hpp"
#include "quelm/curves/sensitivity.hpp"
#include "quelm/dates/calendar.hpp"
#include "quelm/dates/serial.hpp"

namespace quelm::rates {

// The projection curve and the discount curve (`discount`, else the one `curve` was
// bootstrapped on, else `curve`); both dated on one reference date.
[[nodiscard]] Result<curves::CurvePair> pair_of(const curves::YieldCurve& curve, const curves::YieldCurve* discount);

// The spot date of a trade on `cal`, `days` business days after the reference date.
[[nodiscard]] Result<dates::Serial> spot_date(const dates::Calendar& cal, dates::Serial reference, std::uint32_t days);

// Option time: act/365f from the reference date, as the vol quotes count it.
[[nodiscard]] inline double vol_time(dates::Serial reference, dates::Serial d) {
    return static_cast<double>(d - reference) / 365.0;
}

}  // namespace quelm::rates

// A Bermudan swaption: on each exercise date the right to enter, from that date to
// `maturity`, the swap paying (payer) or receiving (receiver) `strike` on the fixed leg
// against the floating rate. The fixed leg runs from the first exercise date to maturity,
// rolled back from the end modified-following on `calendar`; each exercise date is one of
// its period starts (the swap entered then is the periods from it on).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "quelm/core/error.hpp"
#include "quelm/dates/calendar.hpp"
#include "quelm/dates/day_count.hpp"
#include "quelm/dates/serial.hpp"
#include "quelm/rates/swaption.hpp"

namespace quelm::rates {

struct BermudanSwaption {
    std::vector<dates::Serial> exercise_dates;  // increasing
    dates::Serial maturity = 0;
    double strike = 0.0;
    SwaptionKind kind = SwaptionKind::Payer;
    std::uint32_t fixed_frequency = 1;
    dates::DayCount fixed_day_count{dates::DayCountKind::Thirty360, {}};
    double notional = 1.0;
    dates::Calendar calendar;
    // As a trade of a book: the market curve and Hull-White model it is priced on ("": the
    // market's only one).
    std::string curve, vol;
    friend bool operator==(const BermudanSwaption&, const BermudanSwaption&) = default;
};

// Messages start "Bermudan swaption: ".
[[nodiscard]] Status check(const BermudanSwaption& b);
[[nodiscard]] std::string describe(const BermudanSwaption& b);

// The fixed leg: its period starts (the first the first exercise date), ends (payment
// dates) and accruals; each exercise date (rolled modified-following) is a start. Errors
// name the swaption.
struct FixedLeg {
    std::vector<dates::Serial> starts, ends, exercises;
    std::vector<double> accruals;
};
[[nodiscard]] Result<FixedLeg> fixed_leg(const BermudanSwaption& b);

}  // namespace quelm::rates

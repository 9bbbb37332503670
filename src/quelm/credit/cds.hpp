// A credit default swap on the standard terms: a running `coupon` (decimal a year, act/360)
// paid quarterly on the roll dates (the 20th of March, June, September, December, each
// moved to the next business day of the calendar), the first coupon in full from the roll
// date on or before the step-in date, the last period counting the maturity day too;
// accrued coupon paid on default; protection from the step-in date (trade date + 1
// calendar day) to the maturity; the upfront settles in cash three business days after
// the trade date. Dates are serials; amounts scale with `notional`.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "quelm/core/choice.hpp"
#include "quelm/core/error.hpp"
#include "quelm/dates/calendar.hpp"
#include "quelm/dates/serial.hpp"

namespace quelm::credit {

using dates::Serial;

// The protection buyer pays the coupon and receives the loss on default; the seller the
// reverse. Values are given to the side held.
enum class Side : std::uint8_t { Buy, Sell };

inline constexpr Choices<Side, 2> kSides{"side", Listing::Quoted, {{{"buy", Side::Buy}, {"sell", Side::Sell}}}, true,
                                         true};

// One coupon period: accrues over [start, end) (end one day after the maturity for the
// last period), paid on `payment`; `accrual` is its act/360 fraction.
struct CouponPeriod {
    Serial start = 0, end = 0, payment = 0;
    double accrual = 0.0;
    friend bool operator==(const CouponPeriod&, const CouponPeriod&) = default;
};

struct CdsTerms {
    Serial trade_date = 0;
    Serial maturity = 0;
    double coupon = 0.01;
    double notional = 1.0;
    double recovery = 0.4;
    Side side = Side::Buy;
    dates::Calendar calendar;  // weekends
    // Whether accrual on default counts from half a day before each period starts, as the
    // published ISDA code (v1.8.2) does; the default counts from the start of the period.
    bool half_day = false;
    // Where a book finds its curves: names of a market credit curve and yield curve ("" =
    // the market's only one of each).
    std::string credit_curve, discount_curve;
    friend bool operator==(const CdsTerms&, const CdsTerms&) = default;
};

struct Cds {
    CdsTerms terms;
    Serial step_in = 0, cash_settlement = 0;
    Serial accrual_start = 0;  // of the first period (adjusted)
    std::vector<CouponPeriod> periods;
    friend bool operator==(const Cds& a, const Cds& b) { return a.terms == b.terms; }
};

// The contract on its terms, with its dates. Errors start "cds: ".
[[nodiscard]] Result<Cds> make_cds(const CdsTerms& terms);

// The accrued coupon at step-in per unit notional and of coupon (act/360 days from the
// start of the first period to the step-in date): what the seller rebates to the buyer.
[[nodiscard]] double accrued_fraction(const Cds& cds);

// +1 for the buyer, -1 for the seller.
[[nodiscard]] inline double side_sign(const Cds& cds) { return cds.terms.side == Side::Buy ? 1.0 : -1.0; }

}  // namespace quelm::credit

// Tenors ("2D" business days, "1W", "3M", "10Y", negative counts allowed) and moving a
// date serial (days since 1970-01-01) by one on a calendar.
#pragma once

#include <cstdint>
#include <string_view>

#include "quelm/core/error.hpp"
#include "quelm/core/text.hpp"
#include "quelm/dates/adjust.hpp"

namespace quelm::dates {

enum class TenorUnit : std::uint8_t { Days, Weeks, Months, Years };

struct Tenor {
    std::int32_t count = 0;
    TenorUnit unit = TenorUnit::Days;

    // In months for M and Y (12 per year), in days for W (7 per week) and D.
    [[nodiscard]] std::int64_t months() const { return unit == TenorUnit::Years ? count * 12LL : count; }
    friend bool operator==(const Tenor&, const Tenor&) = default;
};

// An optional sign, decimal digits (at most 100000), then D, W, M or Y in either case.
[[nodiscard]] Result<Tenor> parse_tenor(std::string_view text);

// D moves by business days (each step to the next business day; 0D adjusts by the
// convention); W by calendar weeks then the convention; M and Y by calendar months (the
// day clamped to the month's length) then the convention, except with end_of_month when
// s is its month's end: the target month's last calendar day (unadjusted) or last
// business day (any other convention).
[[nodiscard]] Result<Serial> advance(const Calendar& cal, Serial s, Tenor t, Convention c, bool end_of_month);

}  // namespace quelm::dates

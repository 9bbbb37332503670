// Validated proleptic-Gregorian calendar dates and the actual/365 year fraction
// between two of them (days counted by the civil-to-days method).
#pragma once

#include <cstdint>

#include "quelm/core/error.hpp"

namespace quelm {

class Date {
public:
    // The only way to build a Date, so every Date holds a real calendar day.
    [[nodiscard]] static Result<Date> make(std::int32_t year, std::uint8_t month, std::uint8_t day);

    [[nodiscard]] std::int32_t year() const { return year_; }
    [[nodiscard]] std::uint8_t month() const { return month_; }
    [[nodiscard]] std::uint8_t day() const { return day_; }

    // Days since a fixed epoch; only differences are meaningful.
    [[nodiscard]] std::int64_t day_number() const;

private:
    Date(std::int32_t y, std::uint8_t m, std::uint8_t d) : year_(y), month_(m), day_(d) {}
    std::int32_t year_;
    std::uint8_t month_;
    std::uint8_t day_;
};

[[nodiscard]] bool is_leap_year(std::int32_t year);
// 1..12 -> 28..31; callers pass a valid month.
[[nodiscard]] unsigned days_in_month(std::int32_t year, unsigned month);

// (later - earlier) in actual days over 365; negative when `to` precedes `from`.
[[nodiscard]] double year_fraction(const Date& from, const Date& to);

}  // namespace quelm

#include <string>
#include <string_view>

#include "quelm/core/text.hpp"

namespace quelm {

// "YYYY-MM-DD" split at every '-': exactly three parts, each decimal with an optional
// leading '+' (year signed 32-bit, month and day at most 255), then calendar validation.
// The message of a calendar failure is the rendered invalid-input error.
[[nodiscard]] Parsed<Date> parse_iso_date(std::string_view text);

}  // namespace quelm

// Dates as serial day numbers: days since 1970-01-01 (the epoch of datetime64[D]) in a
// signed 32-bit integer, with civil (year, month, day) conversions, weekdays, month
// arithmetic and ISO text. Valid dates run from 0001-01-01 to 9999-12-31. The dated cash
// flows of portfolio performance read any year a 32-bit integer holds: their days are the
// same count in 64 bits (DayNumber).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "quelm/core/error.hpp"
#include "quelm/core/text.hpp"

namespace quelm::dates {

using Serial = std::int32_t;
// Days since 1970-01-01 in 64 bits, for the years 0 ..= 2^31 - 1 past a Serial's reach.
using DayNumber = std::int64_t;

struct Civil {
    std::int32_t year;
    unsigned month;  // 1..12
    unsigned day;    // 1..31
};

enum class Weekday : unsigned char { Monday = 0, Tuesday, Wednesday, Thursday, Friday, Saturday, Sunday };

// The day number of a civil date, 64-bit throughout so that no 32-bit year overflows; the
// caller passes a real date (no checks).
[[nodiscard]] constexpr DayNumber day_number(std::int64_t year, unsigned month, unsigned day) {
    const std::int64_t y = month <= 2 ? year - 1 : year;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}
[[nodiscard]] constexpr DayNumber day_number(const Civil& c) { return day_number(c.year, c.month, c.day); }

// The serial of a civil date in 0001-01-01..9999-12-31; the caller passes a real date (no checks).
[[nodiscard]] constexpr Serial serial_of(std::int32_t year, unsigned month, unsigned day) {
    return static_cast<Serial>(day_number(year, month, day));
}

[[nodiscard]] constexpr Civil civil_of(Serial s) {
    const std::int32_t z = s + 719468;
    const std::int32_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    const std::int32_t y = static_cast<std::int32_t>(yoe) + era * 400 + (m <= 2 ? 1 : 0);
    return {y, m, d};
}

inline constexpr Serial kFirstSerial = serial_of(1, 1, 1);
inline constexpr Serial kLastSerial = serial_of(9999, 12, 31);

[[nodiscard]] constexpr Weekday weekday(Serial s) {
    // 1970-01-01 was a Thursday.
    const std::int32_t w = (s % 7 + 7 + 3) % 7;
    return static_cast<Weekday>(w);
}
[[nodiscard]] constexpr bool is_weekend(Serial s) { return weekday(s) >= Weekday::Saturday; }

[[nodiscard]] constexpr bool leap_year(std::int32_t y) { return y % 400 == 0 || (y % 4 == 0 && y % 100 != 0); }
[[nodiscard]] constexpr unsigned month_length(std::int32_t y, unsigned m) {
    return m == 2 ? (leap_year(y) ? 29u : 28u) : (m == 4 || m == 6 || m == 9 || m == 11) ? 30u : 31u;
}

// A validated date: year 1..9999, a real month and day.
[[nodiscard]] Result<Serial> make_date(std::int32_t year, unsigned month, unsigned day);
// Whether s lies in 0001-01-01 ..= 9999-12-31.
[[nodiscard]] constexpr bool in_range(Serial s) { return s >= kFirstSerial && s <= kLastSerial; }
// An error naming `what` when s left the representable dates.
[[nodiscard]] Status check_range(Serial s, std::string_view what);

[[nodiscard]] Serial end_of_month(Serial s);
[[nodiscard]] bool is_end_of_month(Serial s);
// s moved by whole months, the day clamped to the target month's length; with end_of_month
// a month's last day moves to the target month's last day (how the roll dates of an
// end-of-month schedule step). Any year: a result may leave 0001..9999.
[[nodiscard]] Serial add_months(Serial s, std::int32_t months, bool end_of_month = false);
// The same from a civil date at hand, empty when the target month leaves 0001-01..9999-12.
[[nodiscard]] std::optional<Serial> add_months(const Civil& c, std::int64_t months, bool end_of_month = false);
// The n-th (1..5) weekday w of a month, or with n = -1 its last one.
[[nodiscard]] Serial nth_weekday(int n, Weekday w, std::int32_t year, unsigned month);

// "YYYY-MM-DD" split at every '-': exactly three parts, each decimal with an optional
// leading '+' (year 0 ..= 2^31 - 1, month and day at most 255), then calendar validation.
// The dated cash flows of portfolio performance read their dates so. The message of a
// calendar failure is the rendered invalid-input error.
[[nodiscard]] Parsed<Civil> parse_iso_civil(std::string_view text);
// "YYYY-MM-DD" (the rules and messages of parse_iso_civil), years 1..9999, digits only: a
// sign ("+2024-02-29") is not a date's spelling.
[[nodiscard]] Parsed<Serial> parse_iso(std::string_view text);
[[nodiscard]] std::string format_iso(Serial s);

}  // namespace quelm::dates

#include "quelm/core/date.hpp"

#include <string>

namespace quelm {

bool is_leap_year(std::int32_t year) {
    return year % 400 == 0 || (year % 4 == 0 && year % 100 != 0);
}

unsigned days_in_month(std::int32_t year, unsigned month) {
    switch (month) {
        case 4: case 6: case 9: case 11: return 30;
        case 2: return is_leap_year(year) ? 29 : 28;
        default: return 31;
    }
}

Result<Date> Date::make(std::int32_t year, std::uint8_t month, std::uint8_t day) {
    if (month < 1 || month > 12) return invalid("month " + std::to_string(month) + " not in 1..=12");
    const unsigned max = days_in_month(year, month);
    if (day < 1 || day > max) {
        const std::string mm = std::string(month < 10 ? "0" : "") + std::to_string(month);
        return invalid("day " + std::to_string(day) + " not in 1..=" + std::to_string(max) + " for " +
                       std::to_string(year) + "-" + mm);
    }
    return Date(year, month, day);
}

std::int64_t Date::day_number() const {
    // 64-bit throughout: a year near the 32-bit limit must not overflow.
    const std::int64_t m = month_;
    const std::int64_t y = m <= 2 ? std::int64_t{year_} - 1 : std::int64_t{year_};
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (m <= 2 ? m + 9 : m - 3) + 2) / 5 + std::int64_t{day_} - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe;
}

double year_fraction(const Date& from, const Date& to) {
    return static_cast<double>(to.day_number() - from.day_number()) / 365.0;
}

}  // namespace quelm

#include <cstdint>
#include <limits>
#include <optional>

namespace quelm {

namespace {

// Optional '+', then one or more ASCII digits, value at most `max`.
std::optional<std::uint64_t> parse_decimal(std::string_view s, std::uint64_t max) {
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    if (s.empty()) return std::nullopt;
    std::uint64_t v = 0;
    for (const char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + static_cast<std::uint64_t>(c - '0');
        if (v > max) return std::nullopt;
    }
    return v;
}

}  // namespace

Parsed<Date> parse_iso_date(std::string_view text) {
    // At most four parts are kept: a fourth already makes the text malformed.
    std::string_view parts[4];
    std::size_t count = 0;
    std::size_t start = 0;
    while (count < 4) {
        const std::size_t dash = text.find('-', start);
        parts[count++] = text.substr(start, dash == std::string_view::npos ? std::string_view::npos : dash - start);
        if (dash == std::string_view::npos) break;
        start = dash + 1;
    }
    if (count != 3) return std::unexpected("date must be YYYY-MM-DD, got " + quote_literal(text));
    const auto year = parse_decimal(parts[0], static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()));
    if (!year) return std::unexpected(std::string("bad year"));
    const auto month = parse_decimal(parts[1], 255);
    if (!month) return std::unexpected(std::string("bad month"));
    const auto day = parse_decimal(parts[2], 255);
    if (!day) return std::unexpected(std::string("bad day"));
    auto date = Date::make(static_cast<std::int32_t>(*year), static_cast<std::uint8_t>(*month),
                           static_cast<std::uint8_t>(*day));
    if (!date) return std::unexpected(date.error().render());
    return *date;
}

}  // namespace quelm

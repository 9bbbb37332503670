#include "quelm/dates/serial.hpp"

#include "quelm/core/date.hpp"
#include "quelm/core/text.hpp"

#include <cstdio>

namespace quelm::dates {

Result<Serial> make_date(std::int32_t year, unsigned month, unsigned day) {
    if (year < 1 || year > 9999) return invalid("year " + std::to_string(year) + " not in 1..=9999");
    if (month > 255 || day > 255) return invalid("no such date " + std::to_string(year) + "-" + std::to_string(month) +
                                                "-" + std::to_string(day));
    // The same checks and messages as the ISO dates of the performance functions.
    auto d = Date::make(year, static_cast<std::uint8_t>(month), static_cast<std::uint8_t>(day));
    if (!d) return std::unexpected(std::move(d.error()));
    return serial_of(year, month, day);
}

Status check_range(Serial s, std::string_view what) {
    if (!in_range(s)) return invalid(std::string(what) + " falls outside 0001-01-01..9999-12-31");
    return {};
}

Serial end_of_month(Serial s) {
    const Civil c = civil_of(s);
    return serial_of(c.year, c.month, month_length(c.year, c.month));
}

bool is_end_of_month(Serial s) { return end_of_month(s) == s; }

Serial add_months(Serial s, std::int32_t months) {
    const Civil c = civil_of(s);
    const std::int64_t total = std::int64_t{c.year} * 12 + (c.month - 1) + months;
    const std::int64_t y = total >= 0 ? total / 12 : (total - 11) / 12;
    const auto m = static_cast<unsigned>(total - y * 12 + 1);
    const auto year = static_cast<std::int32_t>(y);
    const unsigned len = month_length(year, m);
    return serial_of(year, m, c.day < len ? c.day : len);
}

Serial roll_months(Serial s, std::int32_t months, bool end_of_month) {
    const Serial d = add_months(s, months);
    return end_of_month && is_end_of_month(s) ? dates::end_of_month(d) : d;
}

Serial nth_weekday(int n, Weekday w, std::int32_t year, unsigned month) {
    if (n < 0) {
        const Serial last = serial_of(year, month, month_length(year, month));
        const int back = (static_cast<int>(weekday(last)) - static_cast<int>(w) + 7) % 7;
        return last - back;
    }
    const Serial first = serial_of(year, month, 1);
    const int ahead = (static_cast<int>(w) - static_cast<int>(weekday(first)) + 7) % 7;
    return first + ahead + 7 * (n - 1);
}

Parsed<Serial> parse_iso(std::string_view text) {
    if (text.find('+') != std::string_view::npos) return std::unexpected("date must be YYYY-MM-DD, got " + quote_literal(text));
    const Parsed<Date> d = parse_iso_date(text);
    if (!d) return std::unexpected(d.error());
    if (d->year() < 1 || d->year() > 9999)
        return std::unexpected(invalid("year " + std::to_string(d->year()) + " not in 1..=9999").error().render());
    return serial_of(d->year(), d->month(), d->day());
}

std::string format_iso(Serial s) {
    const Civil c = civil_of(s);
    char buf[32];
    const int n = std::snprintf(buf, sizeof buf, "%04d-%02u-%02u", c.year, c.month, c.day);
    return std::string(buf, static_cast<std::size_t>(n));
}

}  // namespace quelm::dates

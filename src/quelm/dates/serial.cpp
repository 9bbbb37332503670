#include "quelm/dates/serial.hpp"

#include "quelm/core/text.hpp"

#include <cstdio>
#include <limits>

namespace quelm::dates {

namespace {

// A real month and day of `year`, with the messages every date reader shows.
Status check_civil(std::int32_t year, unsigned month, unsigned day) {
    if (month < 1 || month > 12) return invalid("month " + std::to_string(month) + " not in 1..=12");
    const unsigned max = month_length(year, month);
    if (day < 1 || day > max) {
        const std::string mm = std::string(month < 10 ? "0" : "") + std::to_string(month);
        return invalid("day " + std::to_string(day) + " not in 1..=" + std::to_string(max) + " for " +
                       std::to_string(year) + "-" + mm);
    }
    return {};
}

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

// The day-th of month `index` (year * 12 + month - 1, any sign), clamped to the month's
// length; `to_end` takes the last day whatever `day` is.
Serial day_of_month(std::int64_t index, unsigned day, bool to_end) {
    const std::int64_t y = index >= 0 ? index / 12 : (index - 11) / 12;
    const auto m = static_cast<unsigned>(index - y * 12 + 1);
    const auto year = static_cast<std::int32_t>(y);
    const unsigned len = month_length(year, m);
    return serial_of(year, m, to_end || day > len ? len : day);
}

std::int64_t month_index(const Civil& c) { return std::int64_t{c.year} * 12 + c.month - 1; }

bool last_of_month(const Civil& c) { return c.day == month_length(c.year, c.month); }

}  // namespace

Result<Serial> make_date(std::int32_t year, unsigned month, unsigned day) {
    if (year < 1 || year > 9999) return invalid("year " + std::to_string(year) + " not in 1..=9999");
    if (month > 255 || day > 255) return invalid("no such date " + std::to_string(year) + "-" + std::to_string(month) +
                                                "-" + std::to_string(day));
    QUELM_CHECK(check_civil(year, month, day));
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

Serial add_months(Serial s, std::int32_t months, bool end_of_month) {
    const Civil c = civil_of(s);
    return day_of_month(month_index(c) + months, c.day, end_of_month && last_of_month(c));
}

std::optional<Serial> add_months(const Civil& c, std::int64_t months, bool end_of_month) {
    const std::int64_t index = month_index(c) + months;
    if (index < 12 || index >= 12LL * 10000) return std::nullopt;
    return day_of_month(index, c.day, end_of_month && last_of_month(c));
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

Parsed<Civil> parse_iso_civil(std::string_view text) {
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
    const Civil c{static_cast<std::int32_t>(*year), static_cast<unsigned>(*month), static_cast<unsigned>(*day)};
    if (const Status ok = check_civil(c.year, c.month, c.day); !ok) return std::unexpected(ok.error().render());
    return c;
}

Parsed<Serial> parse_iso(std::string_view text) {
    if (text.find('+') != std::string_view::npos) return std::unexpected("date must be YYYY-MM-DD, got " + quote_literal(text));
    const Parsed<Civil> c = parse_iso_civil(text);
    if (!c) return std::unexpected(c.error());
    if (c->year < 1 || c->year > 9999)
        return std::unexpected(invalid("year " + std::to_string(c->year) + " not in 1..=9999").error().render());
    return serial_of(c->year, c->month, c->day);
}

std::string format_iso(Serial s) {
    const Civil c = civil_of(s);
    char buf[32];
    const int n = std::snprintf(buf, sizeof buf, "%04d-%02u-%02u", c.year, c.month, c.day);
    return std::string(buf, static_cast<std::size_t>(n));
}

}  // namespace quelm::dates

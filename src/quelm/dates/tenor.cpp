#include "quelm/dates/tenor.hpp"

#include <optional>
#include <string>

namespace quelm::dates {

Result<Tenor> parse_tenor(std::string_view text) {
    auto bad = [&] { return bad_argument("tenor must be a count and a unit D, W, M or Y (as in 3M), got " + quote_literal(text)); };
    std::string_view s = text;
    bool negative = false;
    if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    if (s.size() < 2) return bad();
    std::int32_t n = 0;
    for (const char c : s.substr(0, s.size() - 1)) {
        if (c < '0' || c > '9') return bad();
        n = n * 10 + (c - '0');
        if (n > 100000) return bad();
    }
    Tenor t;
    t.count = negative ? -n : n;
    switch (s.back()) {
        case 'd': case 'D': t.unit = TenorUnit::Days; break;
        case 'w': case 'W': t.unit = TenorUnit::Weeks; break;
        case 'm': case 'M': t.unit = TenorUnit::Months; break;
        case 'y': case 'Y': t.unit = TenorUnit::Years; break;
        default: return bad();
    }
    return t;
}

Result<Serial> advance(const Calendar& cal, Serial s, Tenor t, Convention c, bool end_of_month) {
    if (t.count == 0) return adjust(cal, s, c);
    QUELM_CHECK(cal.check_covers(s));
    switch (t.unit) {
        case TenorUnit::Days: {
            Serial d = s;
            const int step = t.count > 0 ? 1 : -1;
            for (std::int32_t left = t.count > 0 ? t.count : -t.count; left > 0; --left) {
                d += step;
                while (!cal.is_business_day(d) && in_range(d)) d += step;
                if (!in_range(d)) break;
            }
            QUELM_CHECK(check_range(d, "the advanced date"));
            QUELM_CHECK(cal.check_covers(s, d));  // every day walked over
            return d;
        }
        case TenorUnit::Weeks: {
            const std::int64_t d = std::int64_t{s} + 7LL * t.count;
            if (d < kFirstSerial || d > kLastSerial) return invalid("the advanced date falls outside 0001-01-01..9999-12-31");
            return adjust(cal, static_cast<Serial>(d), c);
        }
        case TenorUnit::Months:
        case TenorUnit::Years: {
            const std::optional<Serial> moved = add_months(civil_of(s), t.months());
            if (!moved) return invalid("the advanced date falls outside 0001-01-01..9999-12-31");
            const Serial d = *moved;
            if (end_of_month) {
                if (c == Convention::Unadjusted) {
                    if (dates::is_end_of_month(s)) return dates::end_of_month(d);
                } else if (cal.is_end_of_month(s)) {
                    QUELM_CHECK(cal.check_covers(d));  // its month's days, looked at from the end
                    return cal.end_of_month(d);
                }
            }
            return adjust(cal, d, c);
        }
    }
    return s;
}

}  // namespace quelm::dates

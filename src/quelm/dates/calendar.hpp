// Business-day calendars: a set of markets (a day is a holiday when any of them is
// closed, "target+uk"), weekends (Saturday, Sunday) and extra holidays added by the
// caller. Dates are serials (days since 1970-01-01). Immutable values.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "quelm/core/cancel.hpp"
#include "quelm/core/error.hpp"
#include "quelm/dates/market.hpp"
#include "quelm/dates/serial.hpp"

namespace quelm::dates {

class Calendar {
public:
    Calendar() = default;  // weekends only
    // Every day a business day: the calendar that schedules roll their dates on.
    [[nodiscard]] static Calendar every_day() {
        Calendar c;
        c.weekends_ = false;
        return c;
    }
    // Market names joined by '+', each matched after lower-casing ("TARGET+uk").
    [[nodiscard]] static Result<Calendar> parse(std::string_view name);

    // A new calendar with the given dates as holidays too (weekend days and days already
    // closed are dropped, so equal calendars compare equal).
    [[nodiscard]] Calendar with_holidays(std::span<const Serial> dates) const;

    // The years the calendar answers for: those all its markets cover (every year with
    // none). Queries below do not check them; the checked entry points (adjust, advance,
    // the counts, the Python methods) call check_covers first.
    [[nodiscard]] Years covered_years() const;
    // An error naming the end of the span [a, b] (either order) outside the years.
    [[nodiscard]] Status check_covers(Serial a, Serial b) const;
    [[nodiscard]] Status check_covers(Serial s) const { return check_covers(s, s); }

    [[nodiscard]] bool is_business_day(Serial s) const {
        if (weekends_ && is_weekend(s)) return false;
        if (markets_ > 1 && market_closed(s)) return false;
        return extra_.empty() || !is_extra(s);
    }
    [[nodiscard]] bool is_holiday(Serial s) const { return !is_business_day(s); }
    // The last business day of s's month.
    [[nodiscard]] Serial end_of_month(Serial s) const;
    [[nodiscard]] bool is_end_of_month(Serial s) const;

    // Business days in [start, end); negative when end < start (then [end, start) counted).
    [[nodiscard]] Result<std::int64_t> business_days_between(Serial start, Serial end,
                                                             Cancel& cancel = never_cancel()) const;
    // Holidays falling on weekdays in [start, end] (both included), in order.
    [[nodiscard]] Result<std::vector<Serial>> holidays(Serial start, Serial end, Cancel& cancel = never_cancel()) const;

    // "target+uk": the markets in canonical order ("weekends" when none).
    [[nodiscard]] std::string name() const;
    [[nodiscard]] std::span<const Serial> extra_holidays() const { return extra_; }
    [[nodiscard]] std::uint64_t hash() const;

    friend bool operator==(const Calendar& a, const Calendar& b) = default;

private:
    [[nodiscard]] bool market_closed(Serial s) const;
    [[nodiscard]] bool is_extra(Serial s) const;
    std::uint8_t markets_ = 1;  // bit i: Market(i) (bit 0, weekends, always set)
    bool weekends_ = true;
    std::vector<Serial> extra_;  // sorted, unique, weekdays the markets keep open
};

}  // namespace quelm::dates

#include "quelm/dates/adjust.hpp"

#include <algorithm>

namespace quelm::dates {

namespace {

Serial following(const Calendar& cal, Serial s) {
    while (!cal.is_business_day(s) && s <= kLastSerial) ++s;
    return s;
}

Serial preceding(const Calendar& cal, Serial s) {
    while (!cal.is_business_day(s) && s >= kFirstSerial) --s;
    return s;
}

// The adjusted date and the days the move looked at (lo..hi): all must lie in the years
// the calendar covers for the answer to hold.
struct Move {
    Serial out, lo, hi;
};

Move move(const Calendar& cal, Serial s, Convention c) {
    if (c == Convention::Unadjusted || cal.is_business_day(s)) return {s, s, s};
    switch (c) {
        case Convention::Following: {
            const Serial f = following(cal, s);
            return {f, s, f};
        }
        case Convention::Preceding: {
            const Serial p = preceding(cal, s);
            return {p, p, s};
        }
        case Convention::ModifiedFollowing: {
            const Serial f = following(cal, s);
            if (civil_of(f).month == civil_of(s).month) return {f, s, f};
            // Only the rest of s's month decided that f left it: days past it do not count.
            const Serial p = preceding(cal, s);
            return {p, p, s};
        }
        case Convention::ModifiedPreceding: {
            const Serial p = preceding(cal, s);
            if (civil_of(p).month == civil_of(s).month) return {p, p, s};
            const Serial f = following(cal, s);
            return {f, s, f};
        }
        case Convention::Nearest: {
            Serial up = s, down = s;
            while (!cal.is_business_day(up) && !cal.is_business_day(down) && up <= kLastSerial) {
                ++up;
                --down;
            }
            return {cal.is_business_day(up) ? up : down, down, up};
        }
        case Convention::Unadjusted: break;
    }
    return {s, s, s};
}

}  // namespace

Result<Serial> adjust(const Calendar& cal, Serial s, Convention c) {
    QUELM_CHECK(cal.check_covers(s));
    const Move m = move(cal, s, c);
    if (!in_range(m.out)) return std::unexpected(check_range(m.out, "the adjusted date").error());
    QUELM_CHECK(cal.check_covers(m.lo, m.hi));
    return m.out;
}

}  // namespace quelm::dates

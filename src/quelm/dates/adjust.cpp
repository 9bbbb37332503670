#include "quelm/dates/adjust.hpp"

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

Serial move(const Calendar& cal, Serial s, Convention c) {
    if (c == Convention::Unadjusted || cal.is_business_day(s)) return s;
    switch (c) {
        case Convention::Following: return following(cal, s);
        case Convention::Preceding: return preceding(cal, s);
        case Convention::ModifiedFollowing: {
            const Serial f = following(cal, s);
            return civil_of(f).month == civil_of(s).month ? f : preceding(cal, s);
        }
        case Convention::ModifiedPreceding: {
            const Serial p = preceding(cal, s);
            return civil_of(p).month == civil_of(s).month ? p : following(cal, s);
        }
        case Convention::Nearest: {
            Serial up = s, down = s;
            while (!cal.is_business_day(up) && !cal.is_business_day(down) && up <= kLastSerial) {
                ++up;
                --down;
            }
            return cal.is_business_day(up) ? up : down;
        }
        case Convention::Unadjusted: break;
    }
    return s;
}

}  // namespace

Result<Serial> adjust(const Calendar& cal, Serial s, Convention c) {
    const Serial out = move(cal, s, c);
    if (in_range(out)) return out;
    return std::unexpected(check_range(out, "the adjusted date").error());
}

}  // namespace quelm::dates

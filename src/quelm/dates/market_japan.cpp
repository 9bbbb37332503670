// Japan: the national holidays of the Act on National Holidays as they stood each year,
// with its substitute rule (from 12 April 1973: a holiday on a Sunday moves to the Monday;
// from 2007 to the next day that is not a holiday) and its in-between rule (from
// 27 December 1985: a day between two holidays is one), the imperial occasions (weddings,
// the funeral of 1989, the enthronements), the Olympic moves of 2020 and 2021, and the
// bank holidays of 2 and 3 January and 31 December. Equinoxes follow the National
// Astronomical Observatory's formula for each period.
#include "quelm/dates/market.hpp"

namespace quelm::dates {

namespace {

// The day of March (vernal) or September (autumnal) of the equinox: the day of the
// mean equinox in Japan time for 1980, moving 0.242194 days a year, less the leap days.
unsigned equinox(std::int32_t y, bool autumn) {
    double base = 0.0;
    std::int32_t leap_from = 1980;
    if (y < 1980) {
        base = autumn ? 23.2588 : 20.8357;
        leap_from = 1983;
    } else if (y < 2100) {
        base = autumn ? 23.2488 : 20.8431;
    } else {
        base = autumn ? 24.2488 : 21.8510;
    }
    // The formula's linear drift lands 2107's autumnal equinox just after midnight; the
    // equinox itself falls at 23:36 Japan time on 23 September (Meeus, chapter 27).
    if (autumn && y == 2107) return 23;
    // (y - 1983) / 4 truncates toward zero before 1983, as the published formula does.
    const double drift = 0.242194 * static_cast<double>(y - 1980);
    return static_cast<unsigned>(base + drift - static_cast<double>((y - leap_from) / 4));
}

bool nth_monday(unsigned d, unsigned first_day, Weekday w) { return w == Weekday::Monday && d >= first_day && d < first_day + 7; }

// The national holidays proper (no substitutes, no in-between days).
bool national(Serial s, const Civil& c) {
    const auto [y, m, d] = c;
    const Weekday w = weekday(s);
    switch (m) {
        case 1:
            return d == 1 || (y < 2000 ? d == 15 : nth_monday(d, 8, w));  // New Year, Coming of Age Day
        case 2:
            return (y >= 1967 && d == 11)      // Foundation Day
                   || (y >= 2020 && d == 23)   // the Emperor's birthday (Naruhito)
                   || (y == 1989 && d == 24);  // the funeral of Emperor Showa
        case 3:
            return d == equinox(y, false);
        case 4:
            return d == 29                     // the Emperor's birthday, Greenery Day, Showa Day
                   || (y == 1959 && d == 10)   // the Crown Prince's wedding
                   || (y == 2019 && d == 30);  // the abdication
        case 5:
            // Constitution Day, Greenery Day (4 May from 2007), Children's Day; 2019 enthronement
            return d == 3 || d == 5 || (y >= 2007 && d == 4) || (y == 2019 && (d == 1 || d == 2));
        case 6:
            return y == 1993 && d == 9;  // the Crown Prince's wedding
        case 7:
            if (y == 2020) return d == 23 || d == 24;  // Marine Day, Sports Day (Olympics)
            if (y == 2021) return d == 22 || d == 23;
            if (y >= 2003) return nth_monday(d, 15, w);
            return y >= 1996 && d == 20;
        case 8:
            if (y == 2020) return d == 10;  // Mountain Day (Olympics)
            if (y == 2021) return d == 8;
            return y >= 2016 && d == 11;
        case 9:
            if (d == equinox(y, true)) return true;
            if (y < 1966) return false;
            return y < 2003 ? d == 15 : nth_monday(d, 15, w);  // Respect for the Aged Day
        case 10:
            if (y == 2019 && d == 22) return true;  // the enthronement ceremony
            if (y < 1966 || y == 2020 || y == 2021) return false;
            return y < 2000 ? d == 10 : nth_monday(d, 8, w);  // Health and Sports Day
        case 11:
            return d == 3 || d == 23 || (y == 1990 && d == 12);  // Culture Day, Labour Thanksgiving; 1990 enthronement
        case 12:
            return d == 23 && y >= 1989 && y <= 2018;  // the Emperor's birthday (Akihito)
        default:
            return false;
    }
}

bool national(Serial s) { return national(s, civil_of(s)); }

constexpr Serial kSubstitutesFrom = serial_of(1973, 4, 12);
constexpr Serial kInBetweenFrom = serial_of(1985, 12, 27);

}  // namespace

bool japan_holiday(Serial s, const Civil& c) {
    const auto [y, m, d] = c;
    if ((m == 1 && (d == 2 || d == 3)) || (m == 12 && d == 31)) return true;  // bank holidays
    if (national(s, c)) return true;
    // Substitute holiday: after a Sunday holiday, the first day that is not a holiday.
    if (y >= 2007) {
        Serial p = s - 1;
        while (national(p) && weekday(p) != Weekday::Sunday) --p;
        if (weekday(p) == Weekday::Sunday && national(p)) return true;
    } else if (s > kSubstitutesFrom && weekday(s) == Weekday::Monday && national(s - 1)) {
        return true;
    }
    // In-between rule: a day that is not a Sunday between two national holidays.
    return s >= kInBetweenFrom && weekday(s) != Weekday::Sunday && national(s - 1) && national(s + 1);
}

}  // namespace quelm::dates

// Japan: the national holidays of the Act on National Holidays with its substitute rule
// (a holiday on a Sunday moves to the next day that is not one; before 2007 only to the
// Monday) and its in-between rule (a day between two holidays is one), the 2019 and
// enthronement days, the Olympic moves of 2020 and 2021, and the bank holidays of
// 2 and 3 January and 31 December. Equinoxes follow the National Astronomical
// Observatory's formula.
#include "quelm/dates/market.hpp"

namespace quelm::dates {

namespace {

unsigned vernal_equinox(std::int32_t y) {
    const double base = y < 2100 ? 20.8431 : 21.8510;
    const std::int32_t from = y < 2100 ? 1980 : 2100;
    return static_cast<unsigned>(base + 0.242194 * (y - from) - static_cast<double>((y - from) / 4));
}

unsigned autumnal_equinox(std::int32_t y) {
    const double base = y < 2100 ? 23.2488 : 24.2488;
    const std::int32_t from = y < 2100 ? 1980 : 2100;
    return static_cast<unsigned>(base + 0.242194 * (y - from) - static_cast<double>((y - from) / 4));
}

bool nth_monday(unsigned d, unsigned first_day, Weekday w) { return w == Weekday::Monday && d >= first_day && d < first_day + 7; }

// The national holidays proper (no substitutes, no in-between days), 1990 onwards.
bool national(Serial s, const Civil& c) {
    const auto [y, m, d] = c;
    const Weekday w = weekday(s);
    switch (m) {
        case 1:
            return d == 1 || (y < 2000 ? d == 15 : nth_monday(d, 8, w));  // New Year, Coming of Age Day
        case 2:
            return d == 11 || (y >= 2020 && d == 23);  // Foundation Day, the Emperor's birthday (Naruhito)
        case 3:
            return d == vernal_equinox(y);
        case 4:
            return d == 29 || (y == 2019 && d == 30);  // Greenery / Showa Day; 2019 abdication
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
            return d == autumnal_equinox(y) || (y < 2003 ? d == 15 : nth_monday(d, 15, w));  // Respect for the Aged
        case 10:
            if (y == 2019 && d == 22) return true;  // the enthronement ceremony
            if (y == 2020 || y == 2021) return false;
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
    } else if (weekday(s) == Weekday::Monday && national(s - 1)) {
        return true;
    }
    // In-between rule: a day that is not a Sunday between two national holidays.
    return weekday(s) != Weekday::Sunday && national(s - 1) && national(s + 1);
}

}  // namespace quelm::dates

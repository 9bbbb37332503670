// The two US calendars. The government bond market follows SIFMA's recommended full
// closes (an early close is a business day); the New York Stock Exchange its own holiday
// rules and special closures (national days of mourning, 9/11, hurricane Sandy).
#include "quelm/dates/easter.hpp"
#include "quelm/dates/market.hpp"

namespace quelm::dates {

namespace {

bool nth_monday(unsigned d, unsigned first_day, Weekday w) { return w == Weekday::Monday && d >= first_day && d < first_day + 7; }

// Federal holidays common to both calendars.
bool common(Weekday w, std::int32_t y, unsigned m, unsigned d) {
    const bool monday = w == Weekday::Monday, friday = w == Weekday::Friday;
    if (m == 1 && (d == 1 || (d == 2 && monday))) return true;                    // New Year (Sunday -> Monday)
    if (m == 2 && nth_monday(d, 15, w)) return true;                              // Washington's birthday
    if (m == 5 && d >= 25 && monday) return true;                                 // Memorial Day
    if (m == 6 && y >= 2022 && (d == 19 || (d == 20 && monday) || (d == 18 && friday))) return true;  // Juneteenth
    if (m == 7 && (d == 4 || (d == 5 && monday) || (d == 3 && friday))) return true;  // Independence Day
    if (m == 9 && nth_monday(d, 1, w)) return true;                               // Labor Day
    if (m == 11 && w == Weekday::Thursday && d >= 22 && d <= 28) return true;     // Thanksgiving
    if (m == 12 && (d == 25 || (d == 26 && monday) || (d == 24 && friday))) return true;  // Christmas
    return false;
}

// A Good Friday that is the first Friday of April is the day of the monthly employment
// report: from 1996 SIFMA recommends an early close then, not a full one.
bool good_friday_open(std::int32_t y, unsigned m, unsigned d) { return y >= 1996 && m == 4 && d <= 7; }

}  // namespace

bool us_government_bond_holiday(Serial s, const Civil& c) {
    const auto [y, m, d] = c;
    const Weekday w = weekday(s);
    if (common(w, y, m, d)) return true;
    if (m == 1 && nth_monday(d, 15, w)) return true;                                     // Martin Luther King Day
    if (m == 10 && nth_monday(d, 8, w)) return true;                                     // Columbus Day
    if (m == 11 && (d == 11 || (d == 12 && w == Weekday::Monday))) return true;          // Veterans Day
    if (s == easter_sunday(y) - 2 && !good_friday_open(y, m, d)) return true;
    return (y == 2001 && m == 9 && (d == 11 || d == 12))  // 9/11: the market reopened on the 13th
           || (y == 2004 && m == 6 && d == 11)            // President Reagan's funeral
           || (y == 2007 && m == 1 && d == 2)             // President Ford's funeral
           || (y == 2012 && m == 10 && d == 30)           // hurricane Sandy (the 29th closed early)
           || (y == 2018 && m == 12 && d == 5);           // President George H. W. Bush's funeral
}

bool us_nyse_holiday(Serial s, const Civil& c) {
    const auto [y, m, d] = c;
    const Weekday w = weekday(s);
    if (common(w, y, m, d)) return true;
    if (m == 1 && y >= 1998 && nth_monday(d, 15, w)) return true;  // Martin Luther King Day
    if (s == easter_sunday(y) - 2) return true;
    return (y == 1994 && m == 4 && d == 27)                      // President Nixon's funeral
           || (y == 2001 && m == 9 && d >= 11 && d <= 14)        // 9/11
           || (y == 2004 && m == 6 && d == 11)                   // President Reagan's funeral
           || (y == 2007 && m == 1 && d == 2)                    // President Ford's funeral
           || (y == 2012 && m == 10 && (d == 29 || d == 30))     // hurricane Sandy
           || (y == 2018 && m == 12 && d == 5)                   // President George H. W. Bush's funeral
           || (y == 2025 && m == 1 && d == 9);                   // President Carter's funeral
}

}  // namespace quelm::dates

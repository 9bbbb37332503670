// The two US calendars. The government bond market follows SIFMA's recommended full
// closes (an early close is a business day); the New York Stock Exchange its own holiday
// rules and special closures (national days of mourning, the 1968 paperwork crisis,
// weather, 9/11, hurricane Sandy). Each federal holiday as it stood in its year: the
// Uniform Monday Holiday Act moved Washington's Birthday, Memorial Day, Columbus Day and
// (1971-1977 only) Veterans Day to Mondays from 1971; the bond market closes on all four.
#include "quelm/dates/easter.hpp"
#include "quelm/dates/market.hpp"

namespace quelm::dates {

namespace {

bool nth_monday(unsigned d, unsigned first_day, Weekday w) { return w == Weekday::Monday && d >= first_day && d < first_day + 7; }

// A fixed-date holiday observed on the Friday before or the Monday after a weekend.
bool observed(unsigned d, unsigned day, Weekday w) {
    return d == day || (d == day + 1 && w == Weekday::Monday) || (d + 1 == day && w == Weekday::Friday);
}

// A fixed-date holiday observed on the Monday after a Sunday only.
bool sunday_to_monday(unsigned d, unsigned day, Weekday w) { return d == day || (d == day + 1 && w == Weekday::Monday); }

// Federal holidays common to both calendars.
bool common(Weekday w, std::int32_t y, unsigned m, unsigned d) {
    switch (m) {
        case 1: return d == 1 || (d == 2 && w == Weekday::Monday);  // New Year (Sunday -> Monday)
        case 2: return y >= 1971 ? nth_monday(d, 15, w) : observed(d, 22, w);  // Washington's Birthday
        case 5: return y >= 1971 ? d >= 25 && w == Weekday::Monday : observed(d, 30, w);  // Memorial Day
        case 6: return y >= 2022 && observed(d, 19, w);  // Juneteenth
        case 7: return observed(d, 4, w);  // Independence Day
        case 9: return nth_monday(d, 1, w);  // Labor Day
        case 11: return w == Weekday::Thursday && d >= 22 && d <= 28;  // Thanksgiving
        case 12: return observed(d, 25, w);  // Christmas
        default: return false;
    }
}

// A Good Friday that is the first Friday of April is the day of the monthly employment
// report: from 1996 SIFMA recommends an early close then, not a full one.
bool good_friday_open(std::int32_t y, unsigned m, unsigned d) { return y >= 1996 && m == 4 && d <= 7; }

// Veterans Day: 11 November (a Sunday one moves to the Monday, a Saturday one is not
// moved), the fourth Monday of October from 1971 to 1977.
bool veterans_day(Weekday w, std::int32_t y, unsigned m, unsigned d) {
    if (y >= 1971 && y <= 1977) return m == 10 && nth_monday(d, 22, w);
    return m == 11 && sunday_to_monday(d, 11, w);
}

}  // namespace

bool us_government_bond_holiday(Serial s, const Civil& c) {
    const auto [y, m, d] = c;
    const Weekday w = weekday(s);
    if (common(w, y, m, d)) return true;
    if (m == 1 && y >= 1983 && nth_monday(d, 15, w)) return true;  // Martin Luther King Day
    // Columbus Day: 12 October (a Sunday one on the Monday), the second Monday from 1971
    if (m == 10 && (y >= 1971 ? nth_monday(d, 8, w) : sunday_to_monday(d, 12, w))) return true;
    if (veterans_day(w, y, m, d)) return true;
    if (s == easter_sunday(y) - 2 && !good_friday_open(y, m, d)) return true;
    return (y == 2001 && m == 9 && (d == 11 || d == 12))  // 9/11: the market reopened on the 13th
           || (y == 2004 && m == 6 && d == 11)            // President Reagan's funeral
           || (y == 2007 && m == 1 && d == 2)             // President Ford's funeral
           || (y == 2012 && m == 10 && d == 30)           // hurricane Sandy (the 29th closed early)
           || (y == 2018 && m == 12 && d == 5);           // President George H. W. Bush's funeral
}

namespace {

// The NYSE's closures beyond its holiday rules.
bool nyse_special(Serial s, Weekday w, std::int32_t y, unsigned m, unsigned d) {
    // The paperwork crisis: closed on Wednesdays from 12 June to the end of 1968.
    if (y == 1968 && s >= serial_of(1968, 6, 12) && w == Weekday::Wednesday) return true;
    return ((y == 1954 || y == 1956 || y == 1965) && m == 12 && d == 24)  // Christmas Eve
           || (y == 1958 && m == 12 && d == 26)                            // the day after Christmas
           || (y == 1961 && m == 5 && d == 29)                             // the day before Memorial Day
           || (y == 1963 && m == 11 && d == 25)                            // President Kennedy's funeral
           || (y == 1968 && m == 2 && d == 12)                             // Lincoln's Birthday
           || (y == 1968 && m == 4 && d == 9)                              // mourning for Dr King
           || (y == 1968 && m == 7 && d == 5)                              // the day after Independence Day
           || (y == 1969 && m == 2 && d == 10)                             // snow
           || (y == 1969 && m == 3 && d == 31)                             // President Eisenhower's funeral
           || (y == 1969 && m == 7 && d == 21)                             // the first Moon landing
           || (y == 1972 && m == 12 && d == 28)                            // President Truman's funeral
           || (y == 1973 && m == 1 && d == 25)                             // President Johnson's funeral
           || (y == 1977 && m == 7 && d == 14)                             // the New York blackout
           || (y == 1985 && m == 9 && d == 27)                             // hurricane Gloria
           || (y == 1994 && m == 4 && d == 27)                             // President Nixon's funeral
           || (y == 2001 && m == 9 && d >= 11 && d <= 14)                  // 9/11
           || (y == 2004 && m == 6 && d == 11)                             // President Reagan's funeral
           || (y == 2007 && m == 1 && d == 2)                              // President Ford's funeral
           || (y == 2012 && m == 10 && (d == 29 || d == 30))               // hurricane Sandy
           || (y == 2018 && m == 12 && d == 5)                             // President George H. W. Bush's funeral
           || (y == 2025 && m == 1 && d == 9);                             // President Carter's funeral
}

}  // namespace

bool us_nyse_holiday(Serial s, const Civil& c) {
    const auto [y, m, d] = c;
    const Weekday w = weekday(s);
    if (common(w, y, m, d)) return true;
    if (m == 1 && y >= 1998 && nth_monday(d, 15, w)) return true;  // Martin Luther King Day
    if (s == easter_sunday(y) - 2) return true;
    // To 1953 also Lincoln's Birthday, Flag Day, Columbus Day and Veterans Day (a Sunday
    // one on the Monday); Lincoln's Birthday once more in 1968.
    if (y <= 1953 && ((m == 2 && sunday_to_monday(d, 12, w)) || (m == 6 && sunday_to_monday(d, 14, w)) ||
                      (m == 10 && sunday_to_monday(d, 12, w)) || (m == 11 && sunday_to_monday(d, 11, w))))
        return true;
    // Election Day (the Tuesday after the first Monday of November): every year to 1968,
    // then presidential years to 1980.
    if (m == 11 && w == Weekday::Tuesday && d >= 2 && d <= 8 && (y <= 1968 || (y <= 1980 && y % 4 == 0))) return true;
    return nyse_special(s, w, y, m, d);
}

}  // namespace quelm::dates

// England and Wales bank holidays (the settlement calendar of gilts), as the UK government
// lists them and as they stood each year: Good Friday, Easter Monday, Christmas and Boxing
// Day throughout; before 1971 (the Banking and Financial Dealings Act) Whit Monday and the
// first Monday of August, then the last Mondays of May and August; New Year's Day from
// 1974 and the early May bank holiday from 1978 (weekend ones moved to the next weekdays);
// and the royal and state occasions that moved or added one.
#include "quelm/dates/easter.hpp"
#include "quelm/dates/market.hpp"

namespace quelm::dates {

namespace {

// The early May bank holiday: the first Monday of May from 1978, moved to 8 May for the
// 50th and 75th anniversaries of VE day (1995, 2020).
bool early_may(Weekday w, std::int32_t y, unsigned m, unsigned d) {
    if (m != 5 || y < 1978) return false;
    if (y == 1995 || y == 2020) return d == 8;
    return d <= 7 && w == Weekday::Monday;
}

// The spring bank holiday: the last Monday of May from 1971, moved into June for the
// silver (1977), golden (2002), diamond (2012) and platinum (2022) jubilees, each with an
// extra day beside it. Before 1971, Whit Monday (the day after Pentecost).
bool spring(Serial s, Weekday w, std::int32_t y, unsigned m, unsigned d) {
    if (y < 1971) return s == easter_sunday(y) + 50;
    if (y == 1977) return m == 6 && (d == 6 || d == 7);
    if (y == 2002) return m == 6 && (d == 3 || d == 4);
    if (y == 2012) return m == 6 && (d == 4 || d == 5);
    if (y == 2022) return m == 6 && (d == 2 || d == 3);
    return m == 5 && d >= 25 && w == Weekday::Monday;
}

// The summer bank holiday: the first Monday of August before 1971, the last one since.
bool summer(Weekday w, std::int32_t y, unsigned m, unsigned d) {
    if (m != 8 || w != Weekday::Monday) return false;
    return y < 1971 ? d <= 7 : d >= 25;
}

bool one_off(std::int32_t y, unsigned m, unsigned d) {
    return (y == 1981 && m == 7 && d == 29)     // the wedding of the Prince of Wales
           || (y == 1999 && m == 12 && d == 31)  // the millennium
           || (y == 2011 && m == 4 && d == 29)  // the royal wedding
           || (y == 2022 && m == 9 && d == 19)  // the state funeral of Queen Elizabeth II
           || (y == 2023 && m == 5 && d == 8);  // the coronation of King Charles III
}

}  // namespace

bool uk_holiday(Serial s, const Civil& c) {
    const auto [y, m, d] = c;
    const Weekday w = weekday(s);
    const bool monday = w == Weekday::Monday, tuesday = w == Weekday::Tuesday;
    if (m == 1 && y >= 1974 && (d == 1 || ((d == 2 || d == 3) && monday))) return true;
    if (m == 12 && (d == 25 || d == 26 || ((d == 27 || d == 28) && (monday || tuesday)))) return true;
    const Serial easter = easter_sunday(y);
    if (s == easter - 2 || s == easter + 1) return true;
    if (early_may(w, y, m, d) || spring(s, w, y, m, d) || summer(w, y, m, d)) return true;
    return one_off(y, m, d);
}

}  // namespace quelm::dates

// TARGET (from 2007 TARGET2), the euro area's settlement system, as the ECB publishes its
// closing days: New Year's Day and Christmas from the start (1999); Good Friday, Easter
// Monday, Labour Day and 26 December from 2000; 31 December in 1998, 1999 and 2001
// (the changeovers).
#include "quelm/dates/easter.hpp"
#include "quelm/dates/market.hpp"

namespace quelm::dates {

bool target_holiday(Serial s, const Civil& c) {
    const auto [y, m, d] = c;
    if ((m == 1 && d == 1) || (m == 12 && d == 25)) return true;
    if (m == 12 && d == 31 && (y == 1998 || y == 1999 || y == 2001)) return true;
    if (y < 2000) return false;
    if ((m == 5 && d == 1) || (m == 12 && d == 26)) return true;
    if (m != 3 && m != 4) return false;  // Good Friday and Easter Monday fall in March or April
    const Serial easter = easter_sunday(y);
    return s == easter - 2 || s == easter + 1;
}

}  // namespace quelm::dates

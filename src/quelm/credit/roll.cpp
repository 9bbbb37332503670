#include "quelm/credit/roll.hpp"

#include <string>

namespace quelm::credit {

Serial previous_roll(Serial d) {
    const dates::Civil c = dates::civil_of(d);
    std::int32_t year = static_cast<std::int32_t>(c.year);
    int month = static_cast<int>(c.month);
    // Back to the roll month on or before d's month, and a quarter further when the 20th
    // of that month is still after d.
    month -= month % 3;
    if (month == 0) {
        month = 12;
        --year;
    }
    if (month == static_cast<int>(c.month) && c.day < 20) {
        month -= 3;
        if (month <= 0) {
            month += 12;
            --year;
        }
    }
    return dates::serial_of(year, static_cast<unsigned>(month), 20);
}

Result<Serial> standard_maturity(Serial trade_date, dates::Tenor tenor) {
    if (tenor.unit != dates::TenorUnit::Months && tenor.unit != dates::TenorUnit::Years)
        return invalid("cds: a maturity tenor is in months or years (as in 5Y or 6M)");
    if (tenor.count < 0) return invalid("cds: a maturity tenor must not be negative");
    Serial anchor = previous_roll(trade_date);
    if (trade_date >= kSemiAnnualRollStart) {
        const unsigned m = dates::civil_of(anchor).month;
        if (m == 6 || m == 12) {
            if (tenor.count == 0) return invalid("cds: no standard contract has a 0M tenor on this trade date");
            anchor = dates::add_months(anchor, -3);
        }
    }
    const auto months = tenor.months();
    if (months > 12 * 100) return invalid("cds: a maturity tenor is at most 100Y");
    const Serial maturity = dates::add_months(anchor, static_cast<std::int32_t>(months) + 3);
    QUELM_CHECK(dates::check_range(maturity, "maturity"));
    return maturity;
}

}  // namespace quelm::credit

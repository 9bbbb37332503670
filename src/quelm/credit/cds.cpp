#include "quelm/credit/cds.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "quelm/dates/adjust.hpp"
#include "quelm/dates/tenor.hpp"

namespace quelm::credit {

namespace {

Status check_terms(const CdsTerms& t) {
    if (!std::isfinite(t.coupon) || t.coupon < 0.0 || t.coupon > 10.0)
        return invalid("cds: coupon must be a decimal rate in [0, 10], got " + std::to_string(t.coupon));
    if (!std::isfinite(t.notional) || t.notional <= 0.0) return invalid("cds: notional must be positive");
    if (!std::isfinite(t.recovery) || t.recovery < 0.0 || t.recovery >= 1.0)
        return invalid("cds: recovery must be in [0, 1)");
    QUELM_CHECK(dates::check_range(t.trade_date, "trade_date"));
    QUELM_CHECK(dates::check_range(t.maturity, "maturity"));
    if (t.maturity <= t.trade_date + 1) return invalid("cds: maturity must be after the step-in date");
    return {};
}

}  // namespace

Result<Cds> make_cds(const CdsTerms& terms) {
    QUELM_CHECK(check_terms(terms));
    Cds c;
    c.terms = terms;
    const dates::Calendar& cal = terms.calendar;
    QUELM_CHECK(cal.check_covers(terms.trade_date, terms.maturity + 10));
    c.step_in = terms.trade_date + 1;
    QUELM_TRY(cash, dates::advance(cal, terms.trade_date, dates::Tenor{3, dates::TenorUnit::Days},
                                   dates::Convention::Following, false));
    c.cash_settlement = cash;
    // The roll dates back from the maturity, a quarter at a time (the 20th of the standard
    // months for a standard maturity), to the first period's start: the latest of them
    // that, as adjusted, falls on or before the step-in date. A step-in on a roll date
    // starts a new period (nothing accrued); one on the weekend before a roll date moved to
    // Monday is still in the old period.
    std::vector<Serial> rolls{terms.maturity};
    Serial first = terms.maturity;
    for (std::int32_t k = 1;; ++k) {
        const Serial d = dates::add_months(terms.maturity, -3 * k);
        QUELM_TRY(adjusted, dates::adjust(cal, d, dates::Convention::Following));
        if (adjusted <= c.step_in) {
            first = d;
            break;
        }
        rolls.push_back(d);
    }
    rolls.push_back(first);
    std::reverse(rolls.begin(), rolls.end());
    QUELM_TRY(start0, dates::adjust(cal, first, dates::Convention::Following));
    c.accrual_start = start0;
    c.periods.reserve(rolls.size() - 1);
    Serial start = start0;
    for (std::size_t i = 1; i < rolls.size(); ++i) {
        const bool last = i + 1 == rolls.size();
        QUELM_TRY(paid, dates::adjust(cal, rolls[i], dates::Convention::Following));
        const Serial end = last ? terms.maturity + 1 : paid;
        c.periods.push_back({start, end, paid, static_cast<double>(end - start) / 360.0});
        start = end;
    }
    return c;
}

double accrued_fraction(const Cds& cds) { return static_cast<double>(cds.step_in - cds.accrual_start) / 360.0; }

}  // namespace quelm::credit

#include "quelm/bonds/dated_bond.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "quelm/core/math/elementary.hpp"
#include "quelm/core/text.hpp"
#include "quelm/dates/schedule.hpp"

namespace quelm::bonds {

using namespace quelm::dates;

namespace {

Status check_terms(const DatedBondTerms& t) {
    if (t.frequency == 0 || 12 % t.frequency != 0) return invalid("bond: frequency must be 1, 2, 3, 4, 6 or 12");
    if (!(t.issue < t.maturity)) return invalid("bond: the issue date must precede the maturity date");
    if (!std::isfinite(t.coupon_rate)) return invalid("bond: coupon rate must be finite");
    // A fraction of face a year; beyond 100 % a coupon is a typo (5 for 5 %), and a huge one
    // overflows the flows into a NaN price.
    if (!(t.coupon_rate >= 0.0 && t.coupon_rate <= 1.0))
        return invalid("bond: coupon_rate must be within [0, 1] (a decimal: 0.05 is 5%), got " +
                       short_number(t.coupon_rate));
    if (!(std::isfinite(t.face) && t.face > 0.0)) return invalid("bond: face must be positive");
    if (t.first_coupon && !(*t.first_coupon > t.issue && *t.first_coupon <= t.maturity))
        return invalid("bond: first_coupon must lie after the issue date and on or before the maturity date");
    if (t.settlement_days > 366) return invalid("bond: settlement_days must be at most 366");
    if (t.ex_coupon_days > 366) return invalid("bond: ex_coupon_days must be at most 366");
    return {};
}

}  // namespace

Result<double> DatedBond::period_fraction(const CouponPeriod& p, Serial from, Serial to) const {
    return year_fraction(from, to, terms_.day_count,
                         Reference{p.ref_start, p.ref_end, terms_.maturity, terms_.end_of_month});
}

Result<DatedBond> DatedBond::make(const DatedBondTerms& terms) {
    QUELM_CHECK(check_terms(terms));
    DatedBond b;
    b.terms_ = terms;
    const Tenor tenor{static_cast<std::int32_t>(12 / terms.frequency), TenorUnit::Months};
    ScheduleSpec spec{.effective = terms.issue,
                      .termination = terms.maturity,
                      .tenor = tenor,
                      .calendar = terms.calendar,
                      .convention = Convention::Unadjusted,
                      .termination_convention = Convention::Unadjusted,
                      .rule = Rule::Backward,
                      .end_of_month = terms.end_of_month,
                      .first_date = terms.first_coupon,
                      .next_to_last_date = std::nullopt};
    QUELM_TRY(schedule, make_schedule(spec));
    const std::size_t n = schedule.dates.size() - 1;
    b.periods_.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        CouponPeriod p{};
        p.accrual_start = schedule.dates[i];
        p.accrual_end = schedule.dates[i + 1];
        p.ref_start = p.accrual_start;
        p.ref_end = p.accrual_end;
        const bool regular = i < schedule.regular.size() ? schedule.regular[i] : true;
        // An irregular period's quasi-coupon dates step as the schedule does.
        if (!regular && i == 0) {
            p.ref_start = add_months(p.accrual_end, -tenor.count, terms.end_of_month);
        } else if (!regular && i + 1 == n) {
            p.ref_end = add_months(p.accrual_start, tenor.count, terms.end_of_month);
        }
        QUELM_TRY(pay, adjust(terms.calendar, p.accrual_end, terms.convention));
        p.payment = pay;
        if (terms.ex_coupon_days > 0) {
            // Counting back past the first date (the only way this fails): every settlement
            // trades ex, as it would from any earlier ex date.
            const Result<Serial> ex = advance(terms.calendar, pay, Tenor{-static_cast<std::int32_t>(terms.ex_coupon_days),
                                                                        TenorUnit::Days},
                                              Convention::Unadjusted, false);
            p.ex_date = ex ? *ex : kFirstSerial;
        }
        QUELM_TRY(yf, b.period_fraction(p, p.accrual_start, p.accrual_end));
        p.coupon = terms.face * terms.coupon_rate * yf;
        b.periods_.push_back(p);
    }
    // The street time of each whole period, measured from the previous payment date.
    b.full_steps_.resize(n);
    for (std::size_t i = 1; i < n; ++i) {
        const CouponPeriod& p = b.periods_[i];
        const Serial last = b.periods_[i - 1].payment;
        if (last == p.accrual_start) {
            QUELM_TRY(t, b.period_fraction(p, last, p.payment));
            b.full_steps_[i] = t;
        } else {
            QUELM_TRY(whole, b.period_fraction(p, p.accrual_start, p.payment));
            QUELM_TRY(part, b.period_fraction(p, p.accrual_start, last));
            b.full_steps_[i] = whole - part;
        }
    }
    QUELM_CHECK(b.fill_street_periods());
    const auto days = static_cast<std::size_t>(static_cast<std::int64_t>(terms.maturity) - terms.issue);
    b.unpaid_at_stretch_.resize((days >> kStretchShift) + 1);
    for (std::size_t j = 0, k = 0; j < b.unpaid_at_stretch_.size(); ++j) {
        const auto day = static_cast<Serial>(terms.issue + static_cast<std::int64_t>(j << kStretchShift));
        while (k < n && b.periods_[k].payment < day) ++k;
        b.unpaid_at_stretch_[j] = static_cast<std::uint32_t>(k);
    }
    return b;
}

Status DatedBond::fill_street_periods() {
    const std::size_t n = periods_.size();
    street_.assign(n, StreetPeriod{});
    const double f = static_cast<double>(terms_.frequency);
    bool uniform_after = true;  // every street step after period i is one coupon period
    for (std::size_t i = n; i-- > 0;) {
        const CouponPeriod& p = periods_[i];
        StreetPeriod& s = street_[i];
        s.amount = i + 1 == n ? p.coupon + terms_.face : p.coupon;
        const std::optional<double> years = terms_.day_count.kind == dates::DayCountKind::ActActIcma
                                                ? dates::icma_period_years(p.ref_start, p.ref_end)
                                                : std::nullopt;
        if (years && uniform_after && p.ref_start <= p.accrual_start && p.accrual_start < p.accrual_end &&
            p.accrual_end <= p.ref_end && p.accrual_start < p.payment && p.payment <= p.ref_end &&
            (i + 1 == n || periods_[i + 1].payment != p.payment)) {
            QUELM_TRY(whole, period_fraction(p, p.accrual_start, p.payment));
            s.plain = true;
            s.whole = whole;
            s.years = *years;
            s.ref_days = static_cast<double>(p.ref_end - p.ref_start);
        }
        uniform_after = uniform_after && (i == 0 || f * full_steps_[i] == 1.0);
    }
    return {};
}

std::vector<Payment> DatedBond::cashflows() const {
    std::vector<Payment> out;
    out.reserve(periods_.size());
    for (const CouponPeriod& p : periods_) {
        if (!out.empty() && out.back().date == p.payment) {
            out.back().amount += p.coupon;
        } else {
            out.push_back({p.payment, p.coupon});
        }
    }
    out.back().amount += terms_.face;
    return out;
}

Result<Serial> DatedBond::settlement_date(Serial trade) const {
    QUELM_TRY(s, advance(terms_.calendar, trade, Tenor{static_cast<std::int32_t>(terms_.settlement_days), TenorUnit::Days},
                         Convention::Following, false));
    return std::max(s, terms_.issue);
}

Status DatedBond::check_settlement(Serial settle) const {
    if (settle < terms_.issue || settle >= terms_.maturity)
        return invalid("bond: settlement date " + format_iso(settle) + " outside [issue " + format_iso(terms_.issue) +
                       ", maturity " + format_iso(terms_.maturity) + ")");
    // The last payment may be adjusted to before the maturity date.
    if (settle >= periods_.back().payment)
        return invalid("bond: no payment after the settlement date " + format_iso(settle));
    return {};
}

Result<double> DatedBond::accrued_at(Serial settle) const {
    QUELM_CHECK(check_settlement(settle));
    const std::size_t first = next_period(settle);
    if (first == periods_.size()) return 0.0;
    const Serial pay = periods_[first].payment;
    double accrued = 0.0;
    for (std::size_t i = first; i < periods_.size() && periods_[i].payment == pay; ++i) {
        const CouponPeriod& p = periods_[i];
        if (settle <= p.accrual_start || settle > p.payment) continue;
        if (p.ex_date && *p.ex_date <= settle) {
            QUELM_TRY(yf, period_fraction(p, settle, std::max(settle, p.accrual_end)));
            accrued -= terms_.face * terms_.coupon_rate * yf;
        } else {
            QUELM_TRY(yf, period_fraction(p, p.accrual_start, std::min(settle, p.accrual_end)));
            accrued += terms_.face * terms_.coupon_rate * yf;
        }
    }
    return accrued;
}

Result<StreetFlows> DatedBond::street_flows(Serial settle) const {
    StreetFlows flows;
    QUELM_CHECK(fill_street_flows(settle, flows));
    return flows;
}

namespace {

// Each thread's flows, kept between calls so that pricing allocates nothing once warm.
StreetFlows& thread_flows() {
    thread_local StreetFlows flows;
    return flows;
}

}  // namespace

Status DatedBond::fill_street_flows(Serial settle, StreetFlows& flows) const {
    QUELM_CHECK(check_settlement(settle));
    flows.times.clear();
    flows.amounts.clear();
    const std::size_t first = next_period(settle);
    const std::size_t n = periods_.size() - first;
    flows.times.reserve(n);
    flows.amounts.reserve(n);
    double time = 0.0;
    Serial last = settle;
    const double f = static_cast<double>(terms_.frequency);
    flows.uniform = true;
    for (std::size_t i = first; i < periods_.size(); ++i) {
        const CouponPeriod& p = periods_[i];
        double step;
        if (i > first) {
            step = full_steps_[i];
        } else if (last == p.accrual_start) {
            QUELM_TRY(t, period_fraction(p, last, p.payment));
            step = t;
        } else {
            QUELM_TRY(whole, period_fraction(p, p.accrual_start, p.payment));
            QUELM_TRY(part, period_fraction(p, p.accrual_start, last));
            step = whole - part;
        }
        time += step;
        last = p.payment;
        const double coupon = p.ex_date && *p.ex_date <= settle ? 0.0 : p.coupon;
        if (!flows.times.empty() && step == 0.0) {
            flows.amounts.back() += coupon;
        } else {
            if (!flows.times.empty() && f * step != 1.0) flows.uniform = false;
            flows.times.push_back(time);
            flows.amounts.push_back(coupon);
        }
    }
    flows.amounts.back() += terms_.face;
    return {};
}

Result<double> DatedBond::dirty_price_at(double y, Serial settle) const {
    StreetFlows& flows = thread_flows();
    QUELM_CHECK(fill_street_flows(settle, flows));
    return street_price(flows, terms_.frequency, y);
}

Result<double> DatedBond::clean_price_at(double y, Serial settle) const {
    StreetFlows& flows = thread_flows();
    QUELM_CHECK(fill_street_flows(settle, flows));
    QUELM_TRY(accrued, accrued_at(settle));
    QUELM_TRY(dirty, street_price(flows, terms_.frequency, y));
    return dirty - accrued;
}

Result<double> DatedBond::yield_at(double clean_price, Serial settle) const {
    StreetFlows& flows = thread_flows();
    QUELM_CHECK(fill_street_flows(settle, flows));
    QUELM_TRY(accrued, accrued_at(settle));
    if (std::isnan(clean_price)) return clean_price;
    if (!(std::isfinite(clean_price) && clean_price > 0.0)) return invalid("bond: clean price must be positive");
    // Start from the running yield: coupon over price, close to the root for most bonds.
    const double guess = terms_.coupon_rate * terms_.face / clean_price;
    return street_yield(flows, terms_.frequency, clean_price + accrued, guess);
}

Result<double> DatedBond::macaulay_duration_at(double y, Serial settle) const {
    StreetFlows& flows = thread_flows();
    QUELM_CHECK(fill_street_flows(settle, flows));
    return street_duration(flows, terms_.frequency, y);
}

Result<double> DatedBond::modified_duration_at(double y, Serial settle) const {
    QUELM_TRY(d, macaulay_duration_at(y, settle));
    return d / (1.0 + y / static_cast<double>(terms_.frequency));
}

Result<double> DatedBond::convexity_at(double y, Serial settle) const {
    StreetFlows& flows = thread_flows();
    QUELM_CHECK(fill_street_flows(settle, flows));
    return street_convexity(flows, terms_.frequency, y);
}

Result<std::vector<Payment>> DatedBond::payments_after(Serial settle) const {
    QUELM_CHECK(check_settlement(settle));
    std::vector<Payment> out;
    for (std::size_t i = next_period(settle); i < periods_.size(); ++i) {
        const CouponPeriod& p = periods_[i];
        double amount = p.ex_date && *p.ex_date <= settle ? 0.0 : p.coupon;
        if (i + 1 == periods_.size()) amount += terms_.face;
        if (!out.empty() && out.back().date == p.payment) {
            out.back().amount += amount;
        } else {
            out.push_back({p.payment, amount});
        }
    }
    return out;
}

}  // namespace quelm::bonds

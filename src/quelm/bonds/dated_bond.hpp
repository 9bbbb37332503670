// A fixed-rate bond on dates: coupon periods from a schedule (unadjusted roll dates,
// payments moved by the convention), accrued interest and ex-coupon periods at a
// settlement date, prices, yields (street convention, compounded at the coupon
// frequency), durations (years) and convexity (years²); pricing off a curve lives in
// curves/bond_off_curve.hpp.
// Dates are serials (days since 1970-01-01); amounts in the currency of `face`.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "quelm/bonds/street_yield.hpp"
#include "quelm/core/error.hpp"
#include "quelm/dates/day_count.hpp"
#include "quelm/dates/tenor.hpp"

namespace quelm::bonds {

using dates::Serial;

struct DatedBondTerms {
    Serial issue = 0;
    Serial maturity = 0;
    double coupon_rate = 0.0;
    std::uint32_t frequency = 2;  // divides 12
    dates::DayCount day_count{dates::DayCountKind::ActActIcma, {}};
    dates::Calendar calendar;
    dates::Convention convention = dates::Convention::Unadjusted;
    std::uint32_t settlement_days = 0;
    std::uint32_t ex_coupon_days = 0;  // business days of the calendar before each payment
    double face = 100.0;
    bool end_of_month = false;
    std::optional<Serial> first_coupon;  // the end of an irregular first period

    friend bool operator==(const DatedBondTerms&, const DatedBondTerms&) = default;
};

struct CouponPeriod {
    Serial accrual_start;
    Serial accrual_end;
    Serial ref_start;  // the reference period of the day count
    Serial ref_end;
    Serial payment;
    std::optional<Serial> ex_date;  // trading from this date on gets no coupon
    double coupon;                  // face × rate × year fraction
};

// A coupon period as the array forms price inside it. A period is plain when its day count
// is act/act-icma, its accrual dates and payment lie in its reference period, no other
// period is paid that day and every street step after it is one coupon period exactly. For
// a settlement day s in [accrual_start, payment) of a plain period, the street time to the
// payment is `whole` (s = accrual_start) or whole − years·(s − accrual_start)/ref_days, and
// the interest accrued face·rate·years·(s − accrual_start)/ref_days (ex-coupon, minus
// face·rate·years·(accrual_end − s)/ref_days): the scalar calls' own operations.
struct StreetPeriod {
    bool plain = false;
    double whole = 0.0;     // the street time of the whole period, from its accrual start
    double years = 0.0;     // act/act-icma's years of the reference period
    double ref_days = 0.0;  // the reference period's days
    double amount = 0.0;    // its flow when another is paid first: the coupon (the last: plus the face)
};

struct Payment {
    Serial date;
    double amount;
};

class DatedBond {
public:
    [[nodiscard]] static Result<DatedBond> make(const DatedBondTerms& terms);

    [[nodiscard]] const DatedBondTerms& terms() const { return terms_; }
    [[nodiscard]] std::span<const CouponPeriod> periods() const { return periods_; }
    // One per period, as periods().
    [[nodiscard]] std::span<const StreetPeriod> street_periods() const { return street_; }
    // Index of the first period paid after settle (periods().size() when none).
    [[nodiscard]] std::size_t next_period(Serial settle) const;
    // One payment per payment date, coupon and redemption together.
    [[nodiscard]] std::vector<Payment> cashflows() const;

    // The trade date moved by the settlement days (business days), never before the issue.
    [[nodiscard]] Result<Serial> settlement_date(Serial trade) const;
    // Each of these fails for a settlement date outside [issue, maturity).
    [[nodiscard]] Result<double> accrued_at(Serial settle) const;
    [[nodiscard]] Result<double> dirty_price_at(double y, Serial settle) const;
    [[nodiscard]] Result<double> clean_price_at(double y, Serial settle) const;
    [[nodiscard]] Result<double> yield_at(double clean_price, Serial settle) const;
    [[nodiscard]] Result<double> macaulay_duration_at(double y, Serial settle) const;
    [[nodiscard]] Result<double> modified_duration_at(double y, Serial settle) const;
    [[nodiscard]] Result<double> convexity_at(double y, Serial settle) const;
    // What a buyer settling on `settle` receives: the payments after it, a coupon traded
    // ex-coupon counting zero, the redemption added to the last.
    [[nodiscard]] Result<std::vector<Payment>> payments_after(Serial settle) const;

    // The payments after settlement and their street times (coupons traded ex count zero).
    [[nodiscard]] Result<StreetFlows> street_flows(Serial settle) const;

    friend bool operator==(const DatedBond& a, const DatedBond& b) { return a.terms_ == b.terms_; }

private:
    DatedBond() = default;
    // street_flows into `flows`, whose storage is reused (a thread's buffer across calls).
    [[nodiscard]] Status fill_street_flows(Serial settle, StreetFlows& flows) const;
    [[nodiscard]] Status check_settlement(Serial settle) const;
    [[nodiscard]] Result<double> period_fraction(const CouponPeriod& p, Serial from, Serial to) const;
    [[nodiscard]] Status fill_street_periods();

    DatedBondTerms terms_;
    std::vector<CouponPeriod> periods_;
    std::vector<double> full_steps_;  // street time from the previous payment to each payment
    std::vector<StreetPeriod> street_;
    // The first period unpaid before day issue + j·2^kStretchShift (a lookup for next_period).
    static constexpr unsigned kStretchShift = 3;
    std::vector<std::uint32_t> unpaid_at_stretch_;
};

inline std::size_t DatedBond::next_period(Serial settle) const {
    // From the first period unpaid at the start of settle's stretch of days: payments are
    // further apart than a stretch, so at most a step or two on.
    const auto stretch = static_cast<std::size_t>(static_cast<std::int64_t>(settle) - terms_.issue) >> kStretchShift;
    if (settle >= terms_.issue && stretch < unpaid_at_stretch_.size()) {
        std::size_t k = unpaid_at_stretch_[stretch];
        while (k < periods_.size() && periods_[k].payment <= settle) ++k;
        return k;
    }
    // Payments never go back in time: the periods paid by settle are a prefix. Halving
    // without a branch on the comparison (random settlement days would mispredict half).
    std::size_t first = 0, n = periods_.size();
    while (n > 1) {
        const std::size_t half = n / 2;
        first = periods_[first + half - 1].payment <= settle ? first + half : first;
        n -= half;
    }
    return first + (n == 1 && periods_[first].payment <= settle ? 1 : 0);
}

}  // namespace quelm::bonds

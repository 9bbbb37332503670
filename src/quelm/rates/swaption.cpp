#include "quelm/rates/swaption.hpp"

#include <cmath>
#include <cstdint>
#include <memory>

#include "quelm/core/math/elementary.hpp"
#include "quelm/core/text.hpp"
#include "quelm/curves/layout.hpp"
#include "quelm/curves/sensitivity.hpp"
#include "quelm/dates/serial.hpp"
#include "quelm/rates/rate_dates.hpp"

namespace quelm::rates {

namespace {

using dates::Serial;

std::unexpected<Error> named(const Swaption& s, const Error& e) {
    return std::unexpected(Error{e.kind, describe(s) + ": " + e.text});
}

double theta_of(SwaptionKind k) { return k == SwaptionKind::Payer ? 1.0 : -1.0; }

Result<SwaptionReading> terms_on(const Swaption& s, const CurveArgs& on) {
    QUELM_TRY(pair, pair_of(*on.curve, on.discount));
    const Serial reference = *pair.projection->dating().reference;
    Serial expiry = 0;
    if (const auto* t = std::get_if<dates::Tenor>(&s.expiry)) {
        QUELM_TRY(e, dates::advance(s.calendar, reference, *t, dates::Convention::ModifiedFollowing, false));
        expiry = e;
    } else {
        QUELM_TRY(e, dates::adjust(s.calendar, std::get<Serial>(s.expiry), dates::Convention::ModifiedFollowing));
        expiry = e;
    }
    if (!(expiry > reference))
        return invalid("expires on " + dates::format_iso(expiry) + ", not after the curve's reference date " +
                       dates::format_iso(reference));
    QUELM_TRY(start, spot_date(s.calendar, expiry, s.settlement_days));
    curves::Swap swap;
    swap.tenor = s.tenor;
    swap.rate = s.strike;
    swap.terms = {s.fixed_day_count, s.calendar, s.settlement_days, dates::Convention::ModifiedFollowing};
    swap.fixed_frequency = s.fixed_frequency;
    swap.float_tenor = s.float_tenor;
    swap.trade.effective = start;
    swap.memo = s.memo;
    QUELM_TRY(kept, curves::lay_out_kept(swap, reference));
    const curves::Layout& layout = *kept;
    QUELM_TRY(reading, curves::read_curves(layout, pair));
    SwaptionReading read;
    double floating = 0.0, annuity = 0.0;
    for (const curves::FloatPeriod& p : layout.floating)
        floating += (reading.dp[p.start] / reading.dp[p.end] - 1.0) * reading.dd[p.pay];
    for (const curves::FixedPeriod& p : layout.fixed) annuity += p.accrual * reading.dd[p.pay];
    SwaptionTerms& out = read.terms;
    out = {expiry, start, vol_time(reference, expiry), floating / annuity, annuity};
    if (s.settlement == Settlement::Cash) {
        // The par-yield annuity: the fixed accruals discounted at the forward swap rate,
        // compounded at the fixed frequency, from the start, which the curve discounts.
        const double m = static_cast<double>(s.fixed_frequency);
        const double growth = quelm::log1p(out.forward / m);
        double years = 0.0, cash = 0.0;
        for (const curves::FixedPeriod& p : layout.fixed) {
            years += p.accrual;
            cash += p.accrual * quelm::exp(-m * years * growth);
        }
        QUELM_TRY(p_start, pair.discount->discount_on(start));
        out.annuity = cash * p_start;
        read.cash = cash;
        read.p_start = p_start;
    }
    read.layout = std::move(kept);
    read.reading = std::move(reading);
    return read;
}

}  // namespace

Status check_strike(double strike) {
    if (!std::isfinite(strike) || !(std::fabs(strike) < curves::kMaxRate))
        return invalid("swaption: strike must be a decimal within (-1, 1), got " + short_number(strike));
    return {};
}

Status check(const Swaption& s) {
    if (const auto* t = std::get_if<dates::Tenor>(&s.expiry);
        t && !(t->count > 0))
        return invalid("swaption: expiry must be a positive tenor, got " + curves::tenor_text(*t));
    if (!(s.tenor.count > 0 && (s.tenor.unit == dates::TenorUnit::Months || s.tenor.unit == dates::TenorUnit::Years)))
        return invalid("swaption: tenor must be a positive number of months or years, got " +
                       curves::tenor_text(s.tenor));
    QUELM_CHECK(check_strike(s.strike));
    if (!(s.fixed_frequency == 1 || s.fixed_frequency == 2 || s.fixed_frequency == 4 || s.fixed_frequency == 12))
        return invalid("swaption: fixed_frequency must be 1, 2, 4 or 12, got " + std::to_string(s.fixed_frequency));
    if (s.float_tenor.unit != dates::TenorUnit::Months || s.float_tenor.count < 1 || s.float_tenor.count > 12 ||
        12 % s.float_tenor.count != 0)
        return invalid("swaption: float_tenor must be 1M, 2M, 3M, 4M, 6M or 12M, got " +
                       curves::tenor_text(s.float_tenor));
    if (!(std::isfinite(s.notional) && s.notional != 0.0)) return invalid("swaption: notional must be finite and not zero");
    if (s.settlement_days > 366) return invalid("swaption: settlement_days must be at most 366");
    return curves::check_period_day_count("swaption", "fixed_day_count", s.fixed_day_count);
}

std::string describe(const Swaption& s) {
    const Swaption plain;
    std::string o;
    if (s.kind != plain.kind) o += ", kind='receiver'";
    if (s.settlement != plain.settlement) o += ", settlement='cash'";
    if (s.fixed_frequency != plain.fixed_frequency) o += ", fixed_frequency=" + std::to_string(s.fixed_frequency);
    if (!(s.fixed_day_count == plain.fixed_day_count))
        o += ", fixed_day_count=" + single_quoted(dates::day_count_name(s.fixed_day_count));
    if (s.float_tenor != plain.float_tenor) o += ", float_tenor=" + single_quoted(curves::tenor_text(s.float_tenor));
    if (s.notional != plain.notional) o += ", notional=" + format_number(s.notional);
    if (s.calendar.name() != "target") o += ", calendar=" + single_quoted(s.calendar.name());
    if (s.settlement_days != plain.settlement_days) o += ", settlement_days=" + std::to_string(s.settlement_days);
    if (!s.curve.empty()) o += ", curve=" + single_quoted(s.curve);
    if (!s.discount_curve.empty()) o += ", discount_curve=" + single_quoted(s.discount_curve);
    if (!s.vol.empty()) o += ", vol=" + single_quoted(s.vol);
    const std::string expiry = std::holds_alternative<dates::Tenor>(s.expiry)
                                   ? curves::tenor_text(std::get<dates::Tenor>(s.expiry))
                                   : dates::format_iso(std::get<Serial>(s.expiry));
    return "Swaption(" + single_quoted(expiry) + ", " + single_quoted(curves::tenor_text(s.tenor)) + ", " +
           format_number(s.strike) + o + ")";
}

Result<SwaptionReading> swaption_reading(const Swaption& s, const CurveArgs& on) {
    auto t = terms_on(s, on);
    if (!t) return named(s, t.error());
    return t;
}

namespace {

struct LastTerms {
    std::uint64_t projection = 0, discount = 0;
    Swaption swaption;  // its memos dropped: a memo holding its own swaption would never be freed
    SwaptionTerms terms;
};

}  // namespace

Result<SwaptionTerms> swaption_terms(const Swaption& s, const CurveArgs& on) {
    // Curves never change once made, so equal stamps and terms read the same numbers.
    const std::uint64_t projection = on.curve->stamp(), discount = on.discount ? on.discount->stamp() : 0;
    if (auto last = s.terms_memo.last_as<LastTerms>();
        last && last->projection == projection && last->discount == discount && last->swaption == s)
        return last->terms;
    QUELM_TRY(r, swaption_reading(s, on));
    if (!s.terms_memo.empty()) {
        auto kept = std::make_shared<LastTerms>(LastTerms{projection, discount, s, r.terms});
        kept->swaption.memo = curves::LayoutMemo{};
        kept->swaption.terms_memo = curves::LayoutMemo{};
        s.terms_memo.keep_any(std::move(kept));
    }
    return r.terms;
}

namespace {

// The swaption `s` at `strike` (its own, or another: errors then name the swaption of that
// strike, as its own price would).
Result<double> price_on_terms(const Swaption& s, const SwaptionTerms& t, double strike, double vol, const Quoting& q) {
    auto p = optionlet(q, t.forward, strike, vol, t.t, theta_of(s.kind), "the forward swap rate");
    if (!p) {
        if (strike == s.strike) return named(s, p.error());
        Swaption at = s;
        at.strike = strike;
        return named(at, p.error());
    }
    return s.notional * t.annuity * *p;
}

}  // namespace

Result<double> swaption_price(const Swaption& s, const CurveArgs& on, double vol, const Quoting& q) {
    QUELM_CHECK(check_quoting(q));
    QUELM_TRY(t, swaption_terms(s, on));
    return price_on_terms(s, t, s.strike, vol, q);
}

Result<PricedSwaption> priced_on(const Swaption& s, const CurveArgs& on) {
    QUELM_TRY(t, swaption_terms(s, on));
    PricedSwaption p{s, t};
    p.swaption.memo = curves::LayoutMemo{};
    p.swaption.terms_memo = curves::LayoutMemo{};
    return p;
}

Result<double> priced_price(const PricedSwaption& p, double vol, std::optional<double> strike, const Quoting& q) {
    QUELM_CHECK(check_quoting(q));
    if (!strike) return price_on_terms(p.swaption, p.terms, p.swaption.strike, vol, q);
    QUELM_CHECK(check_strike(*strike));
    return price_on_terms(p.swaption, p.terms, *strike, vol, q);
}

Result<double> swaption_implied_vol(const Swaption& s, double price, const CurveArgs& on, const Quoting& q) {
    QUELM_CHECK(check_quoting(q));
    QUELM_TRY(t, swaption_terms(s, on));
    auto v = optionlet_implied_vol(q, price / (s.notional * t.annuity), t.forward, s.strike, t.t, theta_of(s.kind));
    if (!v) return named(s, v.error());
    return v;
}

}  // namespace quelm::rates

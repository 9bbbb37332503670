#include "quelm/curves/instrument.hpp"

#include <charconv>
#include <cmath>

#include "quelm/core/text.hpp"
#include "quelm/dates/serial.hpp"

namespace quelm::curves {

namespace {

const dates::Calendar& target() {
    static const dates::Calendar cal = dates::Calendar::parse("target").value();
    return cal;
}

bool valid_frequency(std::uint32_t f) { return f == 1 || f == 2 || f == 3 || f == 4 || f == 6 || f == 12; }

std::string range_text(double lo, double hi, bool open) {
    return std::string(open ? "(" : "[") + short_number(lo) + ", " + short_number(hi) + (open ? ")" : "]");
}

// A decimal rate: finite and within ±100%.
Status check_rate(const char* kind, const char* what, double rate) {
    if (!std::isfinite(rate)) return invalid(std::string(kind) + ": " + what + " must be finite");
    if (!(rate > -kMaxRate && rate < kMaxRate))
        return invalid(std::string(kind) + ": " + what + " must be within " + range_text(-kMaxRate, kMaxRate, true) +
                       " (a decimal: 0.0325 is 3.25%), got " + short_number(rate));
    return {};
}

Status check_tenor(const char* kind, const char* what, dates::Tenor t) {
    if (t.count <= 0) return invalid(std::string(kind) + ": " + what + " must be positive, got " + tenor_text(t));
    return {};
}

Status check_terms(const char* kind, const RateTerms& t) {
    if (t.settlement_days > 366) return invalid(std::string(kind) + ": settlement_days must be at most 366");
    return check_period_day_count(kind, "day_count", t.day_count);
}

// A trade's size and dates: a finite notional, a positive forward tenor, a start date
// before the maturity date.
Status check_trade(const char* kind, const Trade& t) {
    if (!std::isfinite(t.notional)) return invalid(std::string(kind) + ": notional must be finite");
    if (const auto* f = std::get_if<dates::Tenor>(&t.effective); f && f->count <= 0)
        return invalid(std::string(kind) + ": effective as a forward tenor must be positive, got " + tenor_text(*f));
    if (const auto* d = std::get_if<dates::Serial>(&t.effective); d && t.maturity && !(*d < *t.maturity))
        return invalid(std::string(kind) + ": effective " + dates::format_iso(*d) + " must be before maturity " +
                       dates::format_iso(*t.maturity));
    return {};
}

// Exactly one of a tenor and the trade's date that stands for it.
Status check_one_of(const char* kind, const char* tenor, bool has_tenor, const char* date, bool has_date) {
    if (has_tenor && has_date)
        return invalid(std::string(kind) + ": give " + tenor + " or " + date + ", not both");
    if (!has_tenor && !has_date) return invalid(std::string(kind) + ": needs " + tenor + " or " + date);
    return {};
}

// A trade whose dates are the contract's own: a notional, no effective or maturity date.
Status check_notional_only(const char* kind, const Trade& t, const char* effective_is, const char* maturity_is) {
    if (!std::holds_alternative<std::monostate>(t.effective))
        return invalid(std::string(kind) + ": effective is " + effective_is);
    if (t.maturity) return invalid(std::string(kind) + ": maturity is " + maturity_is);
    return check_trade(kind, t);
}

// The shortest and longest a tenor can be, in days.
struct DaySpan {
    std::int64_t lo, hi;
};
DaySpan day_span(dates::Tenor t) {
    const std::int64_t n = t.count;
    switch (t.unit) {
        case dates::TenorUnit::Days: return {n, n};
        case dates::TenorUnit::Weeks: return {7 * n, 7 * n};
        case dates::TenorUnit::Months: return {28 * n, 31 * n};
        case dates::TenorUnit::Years: return {365 * n, 366 * n};
    }
    return {n, n};
}

// Whether a period of tenor `a` can end before one of tenor `b` from the same date: decided
// exactly when both count days (or weeks) or both months (or years); across the two, unless
// `a` is at least as long as `b` from every date.
bool shorter(dates::Tenor a, dates::Tenor b) {
    const auto in_months = [](dates::Tenor t) {
        return t.unit == dates::TenorUnit::Years ? 12 * static_cast<std::int64_t>(t.count) : t.count;
    };
    const bool a_days = a.unit == dates::TenorUnit::Days || a.unit == dates::TenorUnit::Weeks;
    const bool b_days = b.unit == dates::TenorUnit::Days || b.unit == dates::TenorUnit::Weeks;
    if (a_days == b_days) return a_days ? day_span(a).lo < day_span(b).lo : in_months(a) < in_months(b);
    return day_span(a).lo < day_span(b).hi;
}

const char* convention_name(dates::Convention c) {
    return dates::kConventions.aliases[static_cast<std::size_t>(c)].name.data();
}

// ", key='value'" for each option that differs from its default.
struct Options {
    std::string text;
    void day_count(const char* key, const dates::DayCount& dc, dates::DayCountKind fallback) {
        if (!(dc == dates::DayCount{fallback, {}})) text += std::string(", ") + key + "=" + single_quoted(dates::day_count_name(dc));
    }
    void calendar(const dates::Calendar& cal, const dates::Calendar& fallback = target()) {
        if (!(cal == fallback)) text += ", calendar=" + single_quoted(cal.name());
    }
    void count(const char* key, std::uint32_t v, std::uint32_t fallback) {
        if (v != fallback) text += std::string(", ") + key + "=" + std::to_string(v);
    }
    void convention(dates::Convention c) {
        if (c != dates::Convention::ModifiedFollowing) text += ", convention=" + single_quoted(convention_name(c));
    }
    void tenor(const char* key, dates::Tenor t, dates::Tenor fallback) {
        if (!(t == fallback)) text += std::string(", ") + key + "=" + single_quoted(tenor_text(t));
    }
    void index(const std::optional<OvernightIndex>& i) {
        if (i) text += std::string(", index=") + single_quoted(overnight_index_name(*i));
    }
    void trade(const Trade& t) {
        if (t.notional != 1.0) text += ", notional=" + format_number(t.notional);
        if (const auto* d = std::get_if<dates::Serial>(&t.effective)) text += ", effective=" + single_quoted(dates::format_iso(*d));
        if (const auto* f = std::get_if<dates::Tenor>(&t.effective)) text += ", effective=" + single_quoted(tenor_text(*f));
        if (t.maturity) text += ", maturity=" + single_quoted(dates::format_iso(*t.maturity));
        if (!t.curve.empty()) text += ", curve=" + single_quoted(t.curve);
        if (!t.discount_curve.empty()) text += ", discount_curve=" + single_quoted(t.discount_curve);
    }
    void terms(const RateTerms& t) {
        day_count("day_count", t.day_count, dates::DayCountKind::Act360);
        calendar(t.calendar);
        count("settlement_days", t.settlement_days, 2);
        convention(t.convention);
    }
};

// A tenor as Python reads it back: quoted, or None when the trade's date stands for it.
std::string optional_tenor_text(const std::optional<dates::Tenor>& t) {
    return t ? single_quoted(tenor_text(*t)) : std::string("None");
}

}  // namespace

IndexConventions plain_conventions() {
    return {target(), dates::DayCount{dates::DayCountKind::Act360, {}}, 2, 0};
}

const Trade& trade_of(const Instrument& i) {
    return std::visit([](const auto& x) -> const Trade& { return x.trade; }, i);
}

std::string tenor_text(dates::Tenor t) {
    const char unit = t.unit == dates::TenorUnit::Days    ? 'D'
                      : t.unit == dates::TenorUnit::Weeks ? 'W'
                      : t.unit == dates::TenorUnit::Months ? 'M'
                                                           : 'Y';
    return std::to_string(t.count) + unit;
}

Status check_period_day_count(std::string_view who, std::string_view key, const dates::DayCount& dc) {
    if (dc.kind == dates::DayCountKind::Thirty360EIsda)
        return invalid(std::string(who) + ": " + std::string(key) +
                       " \"30e/360-isda\" is not supported here: it needs the termination date of a schedule");
    return {};
}

Status check(const Deposit& d) {
    QUELM_CHECK(check_one_of("deposit", "a tenor", d.tenor.has_value(), "a maturity", d.trade.maturity.has_value()));
    if (d.tenor) QUELM_CHECK(check_tenor("deposit", "tenor", *d.tenor));
    QUELM_CHECK(check_rate("deposit", "rate", d.rate));
    QUELM_CHECK(check_trade("deposit", d.trade));
    return check_terms("deposit", d.terms);
}

Status check(const Fra& f) {
    // A forward tenor as effective is the start tenor: the constructor keeps it as one.
    if (std::holds_alternative<dates::Tenor>(f.trade.effective))
        return invalid("fra: a forward start is its start_tenor");
    QUELM_CHECK(check_one_of("fra", "start_tenor", f.start.has_value(), "effective",
                             std::holds_alternative<dates::Serial>(f.trade.effective)));
    QUELM_CHECK(check_one_of("fra", "end_tenor", f.end.has_value(), "maturity", f.trade.maturity.has_value()));
    if (f.start && f.start->count < 0) return invalid("fra: start_tenor must not be negative, got " + tenor_text(*f.start));
    if (f.end) QUELM_CHECK(check_tenor("fra", "end_tenor", *f.end));
    if (f.start && f.end && !shorter(*f.start, *f.end))
        return invalid("fra: start_tenor " + tenor_text(*f.start) + " must come before end_tenor " + tenor_text(*f.end));
    QUELM_CHECK(check_rate("fra", "rate", f.rate));
    QUELM_CHECK(check_trade("fra", f.trade));
    return check_terms("fra", f.terms);
}

Status check(const Future& f) {
    const dates::Civil c = dates::civil_of(f.start);
    const bool calendar_month = f.index && f.tenor == dates::Tenor{1, dates::TenorUnit::Months};
    if (f.index && !calendar_month && !(f.tenor == dates::Tenor{3, dates::TenorUnit::Months}))
        return invalid("future: a future on " + std::string(overnight_index_name(*f.index)) +
                       " covers 1M (a calendar month) or 3M (IMM date to IMM date), got " + tenor_text(f.tenor));
    if (calendar_month) {
        if (c.day != 1)
            return invalid("future: start " + dates::format_iso(f.start) +
                           " is not the first day of a month (a 1M index future covers its calendar month)");
    } else if (f.start != dates::nth_weekday(3, dates::Weekday::Wednesday, c.year, c.month)) {
        return invalid("future: start " + dates::format_iso(f.start) + " is not an IMM date (a third Wednesday)");
    }
    if (!std::isfinite(f.price)) return invalid("future: price must be finite");
    if (!(f.price > 0.0 && f.price < kMaxFuturePrice))
        return invalid("future: price must be within " + range_text(0.0, kMaxFuturePrice, true) +
                       " per 100 (a rate above -100%), got " + short_number(f.price));
    QUELM_CHECK(check_rate("future", "convexity", f.convexity));
    QUELM_CHECK(check_tenor("future", "tenor", f.tenor));
    QUELM_CHECK(check_notional_only("future", f.trade, "the contract's start date: give it as start",
                                    "the end of the contract's period: give its tenor"));
    return check_period_day_count("future", "day_count", f.day_count);
}

Status check(const Ois& o) {
    QUELM_CHECK(check_one_of("ois", "a tenor", o.tenor.has_value(), "a maturity", o.trade.maturity.has_value()));
    if (o.tenor) QUELM_CHECK(check_tenor("ois", "tenor", *o.tenor));
    QUELM_CHECK(check_trade("ois", o.trade));
    QUELM_CHECK(check_rate("ois", "rate", o.rate));
    if (!valid_frequency(o.payment_frequency))
        return invalid("ois: payment_frequency must be 1, 2, 3, 4, 6 or 12, got " + std::to_string(o.payment_frequency));
    if (o.payment_lag > 366) return invalid("ois: payment_lag must be at most 366");
    return check_terms("ois", o.terms);
}

Status check(const Swap& s) {
    QUELM_CHECK(check_one_of("swap", "a tenor", s.tenor.has_value(), "a maturity", s.trade.maturity.has_value()));
    if (s.tenor) QUELM_CHECK(check_tenor("swap", "tenor", *s.tenor));
    QUELM_CHECK(check_trade("swap", s.trade));
    QUELM_CHECK(check_rate("swap", "rate", s.rate));
    if (!valid_frequency(s.fixed_frequency))
        return invalid("swap: fixed_frequency must be 1, 2, 3, 4, 6 or 12, got " + std::to_string(s.fixed_frequency));
    QUELM_CHECK(check_tenor("swap", "float_tenor", s.float_tenor));
    if (s.terms.settlement_days > 366) return invalid("swap: settlement_days must be at most 366");
    QUELM_CHECK(check_period_day_count("swap", "fixed_day_count", s.terms.day_count));
    return check_period_day_count("swap", "float_day_count", s.float_day_count);
}

Status check(const BondQuote& b) {
    QUELM_CHECK(check_notional_only("bond quote", b.trade, "the bond's settlement, its own lag after the trade date",
                                    "the bond's own"));
    const bonds::DatedBondTerms& t = b.bond.terms();
    if (!(std::isfinite(t.coupon_rate) && t.coupon_rate >= 0.0 && t.coupon_rate <= kMaxCoupon))
        return invalid("bond quote: the bond's coupon_rate must be within " + range_text(0.0, kMaxCoupon, false) +
                       " (a decimal), got " + short_number(t.coupon_rate));
    if (!std::isfinite(b.clean_price)) return invalid("bond quote: clean_price must be finite");
    // Per the bond's face: the range per 100 scaled to it.
    const double lo = kMinBondPrice * t.face / 100.0, hi = kMaxBondPrice * t.face / 100.0;
    if (!(b.clean_price >= lo && b.clean_price <= hi))
        return invalid("bond quote: clean_price must be within " + range_text(lo, hi, false) + " for a face of " +
                       short_number(t.face) + ", got " + short_number(b.clean_price));
    return {};
}

double quoted(const Instrument& i) {
    return std::visit(
        [](const auto& x) -> double {
            using T = std::decay_t<decltype(x)>;
            if constexpr (std::is_same_v<T, Future>) {
                return x.price;
            } else if constexpr (std::is_same_v<T, BondQuote>) {
                return x.clean_price;
            } else {
                return x.rate;
            }
        },
        i);
}

double matched_quote(const Instrument& i) {
    if (const auto* f = std::get_if<Future>(&i)) return 1.0 - f->price / 100.0;
    return quoted(i);
}

std::string describe(const Instrument& i) {
    return std::visit(
        [](const auto& x) -> std::string {
            using T = std::decay_t<decltype(x)>;
            Options o;
            if constexpr (std::is_same_v<T, Deposit>) {
                o.terms(x.terms);
                o.trade(x.trade);
                return "Deposit(" + optional_tenor_text(x.tenor) + ", " + format_number(x.rate) + o.text + ")";
            } else if constexpr (std::is_same_v<T, Fra>) {
                o.terms(x.terms);
                o.trade(x.trade);
                return "Fra(" + optional_tenor_text(x.start) + ", " + optional_tenor_text(x.end) + ", " +
                       format_number(x.rate) + o.text + ")";
            } else if constexpr (std::is_same_v<T, Future>) {
                if (x.convexity != 0.0) o.text += ", convexity=" + format_number(x.convexity);
                o.tenor("tenor", x.tenor, {3, dates::TenorUnit::Months});
                // Against the index's conventions when it has one: the terms that differ.
                const IndexConventions plain = plain_conventions();
                const IndexConventions& base = x.index ? conventions_of(*x.index) : plain;
                o.day_count("day_count", x.day_count, base.day_count.kind);
                o.calendar(x.calendar, base.calendar);
                o.convention(x.convention);
                o.index(x.index);
                o.trade(x.trade);
                return "Future(" + single_quoted(dates::format_iso(x.start)) + ", " + format_number(x.price) + o.text +
                       ")";
            } else if constexpr (std::is_same_v<T, Ois>) {
                const IndexConventions plain = plain_conventions();
                const IndexConventions& base = x.index ? conventions_of(*x.index) : plain;
                o.day_count("day_count", x.terms.day_count, base.day_count.kind);
                o.calendar(x.terms.calendar, base.calendar);
                o.count("payment_frequency", x.payment_frequency, 1);
                o.count("settlement_days", x.terms.settlement_days, base.settlement_days);
                o.convention(x.terms.convention);
                o.count("payment_lag", x.payment_lag, base.payment_lag);
                o.index(x.index);
                o.trade(x.trade);
                return "Ois(" + optional_tenor_text(x.tenor) + ", " + format_number(x.rate) + o.text + ")";
            } else if constexpr (std::is_same_v<T, Swap>) {
                o.count("fixed_frequency", x.fixed_frequency, 1);
                o.day_count("fixed_day_count", x.terms.day_count, dates::DayCountKind::Thirty360);
                o.tenor("float_tenor", x.float_tenor, {6, dates::TenorUnit::Months});
                o.day_count("float_day_count", x.float_day_count, dates::DayCountKind::Act360);
                o.calendar(x.terms.calendar);
                o.count("settlement_days", x.terms.settlement_days, 2);
                o.convention(x.terms.convention);
                o.trade(x.trade);
                return "Swap(" + optional_tenor_text(x.tenor) + ", " + format_number(x.rate) + o.text + ")";
            } else {
                const bonds::DatedBondTerms& t = x.bond.terms();
                o.trade(x.trade);
                return "BondQuote(<DatedBond " + format_number(t.coupon_rate) + " maturing " +
                       dates::format_iso(t.maturity) + ">, " + format_number(x.clean_price) + o.text + ")";
            }
        },
        i);
}

}  // namespace quelm::curves

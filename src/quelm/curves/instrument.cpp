#include "quelm/curves/instrument.hpp"

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

Status check_rate(const char* kind, double rate) {
    if (!std::isfinite(rate)) return invalid(std::string(kind) + ": rate must be finite");
    return {};
}

Status check_tenor(const char* kind, const char* what, dates::Tenor t) {
    if (t.count <= 0) return invalid(std::string(kind) + ": " + what + " must be positive, got " + tenor_text(t));
    return {};
}

Status check_terms(const char* kind, const RateTerms& t) {
    if (t.settlement_days > 366) return invalid(std::string(kind) + ": settlement_days must be at most 366");
    return {};
}

std::string quoted_text(std::string_view s) {
    std::string out(1, '\'');  // appended, not '+': GCC 12 warns falsely (-Wrestrict) on "'" + string
    out.append(s);
    out.push_back('\'');
    return out;
}

const char* convention_name(dates::Convention c) {
    return dates::kConventions.aliases[static_cast<std::size_t>(c)].name.data();
}

// ", key='value'" for each option that differs from its default.
struct Options {
    std::string text;
    void day_count(const char* key, const dates::DayCount& dc, dates::DayCountKind fallback) {
        if (!(dc == dates::DayCount{fallback, {}})) text += std::string(", ") + key + "=" + quoted_text(dates::day_count_name(dc));
    }
    void calendar(const dates::Calendar& cal) {
        if (!(cal == target())) text += ", calendar=" + quoted_text(cal.name());
    }
    void count(const char* key, std::uint32_t v, std::uint32_t fallback) {
        if (v != fallback) text += std::string(", ") + key + "=" + std::to_string(v);
    }
    void convention(dates::Convention c) {
        if (c != dates::Convention::ModifiedFollowing) text += ", convention=" + quoted_text(convention_name(c));
    }
    void tenor(const char* key, dates::Tenor t, dates::Tenor fallback) {
        if (!(t == fallback)) text += std::string(", ") + key + "=" + quoted_text(tenor_text(t));
    }
    void terms(const RateTerms& t) {
        day_count("day_count", t.day_count, dates::DayCountKind::Act360);
        calendar(t.calendar);
        count("settlement_days", t.settlement_days, 2);
        convention(t.convention);
    }
};

}  // namespace

std::string tenor_text(dates::Tenor t) {
    const char unit = t.unit == dates::TenorUnit::Days    ? 'D'
                      : t.unit == dates::TenorUnit::Weeks ? 'W'
                      : t.unit == dates::TenorUnit::Months ? 'M'
                                                           : 'Y';
    return std::to_string(t.count) + unit;
}

Status check(const Deposit& d) {
    QUELM_CHECK(check_tenor("deposit", "tenor", d.tenor));
    QUELM_CHECK(check_rate("deposit", d.rate));
    return check_terms("deposit", d.terms);
}

Status check(const Fra& f) {
    if (f.start.count < 0) return invalid("fra: start_tenor must not be negative, got " + tenor_text(f.start));
    QUELM_CHECK(check_tenor("fra", "end_tenor", f.end));
    QUELM_CHECK(check_rate("fra", f.rate));
    return check_terms("fra", f.terms);
}

Status check(const Future& f) {
    const dates::Civil c = dates::civil_of(f.start);
    if (f.start != dates::nth_weekday(3, dates::Weekday::Wednesday, c.year, c.month))
        return invalid("future: start " + dates::format_iso(f.start) + " is not an IMM date (a third Wednesday)");
    if (!std::isfinite(f.price)) return invalid("future: price must be finite");
    if (!std::isfinite(f.convexity)) return invalid("future: convexity must be finite");
    return check_tenor("future", "tenor", f.tenor);
}

Status check(const Ois& o) {
    QUELM_CHECK(check_tenor("ois", "tenor", o.tenor));
    QUELM_CHECK(check_rate("ois", o.rate));
    if (!valid_frequency(o.payment_frequency))
        return invalid("ois: payment_frequency must be 1, 2, 3, 4, 6 or 12, got " + std::to_string(o.payment_frequency));
    return check_terms("ois", o.terms);
}

Status check(const Swap& s) {
    QUELM_CHECK(check_tenor("swap", "tenor", s.tenor));
    QUELM_CHECK(check_rate("swap", s.rate));
    if (!valid_frequency(s.fixed_frequency))
        return invalid("swap: fixed_frequency must be 1, 2, 3, 4, 6 or 12, got " + std::to_string(s.fixed_frequency));
    QUELM_CHECK(check_tenor("swap", "float_tenor", s.float_tenor));
    if (s.settlement_days > 366) return invalid("swap: settlement_days must be at most 366");
    return {};
}

Status check(const BondQuote& b) {
    if (!(std::isfinite(b.clean_price) && b.clean_price > 0.0))
        return invalid("bond quote: clean_price must be positive and finite");
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
                return "Deposit(" + quoted_text(tenor_text(x.tenor)) + ", " + format_number(x.rate) + o.text + ")";
            } else if constexpr (std::is_same_v<T, Fra>) {
                o.terms(x.terms);
                return "Fra(" + quoted_text(tenor_text(x.start)) + ", " + quoted_text(tenor_text(x.end)) + ", " +
                       format_number(x.rate) + o.text + ")";
            } else if constexpr (std::is_same_v<T, Future>) {
                if (x.convexity != 0.0) o.text += ", convexity=" + format_number(x.convexity);
                o.tenor("tenor", x.tenor, {3, dates::TenorUnit::Months});
                o.day_count("day_count", x.day_count, dates::DayCountKind::Act360);
                o.calendar(x.calendar);
                o.convention(x.convention);
                return "Future(" + quoted_text(dates::format_iso(x.start)) + ", " + format_number(x.price) + o.text +
                       ")";
            } else if constexpr (std::is_same_v<T, Ois>) {
                o.day_count("day_count", x.terms.day_count, dates::DayCountKind::Act360);
                o.calendar(x.terms.calendar);
                o.count("payment_frequency", x.payment_frequency, 1);
                o.count("settlement_days", x.terms.settlement_days, 2);
                o.convention(x.terms.convention);
                return "Ois(" + quoted_text(tenor_text(x.tenor)) + ", " + format_number(x.rate) + o.text + ")";
            } else if constexpr (std::is_same_v<T, Swap>) {
                o.count("fixed_frequency", x.fixed_frequency, 1);
                o.day_count("fixed_day_count", x.fixed_day_count, dates::DayCountKind::Thirty360);
                o.tenor("float_tenor", x.float_tenor, {6, dates::TenorUnit::Months});
                o.day_count("float_day_count", x.float_day_count, dates::DayCountKind::Act360);
                o.calendar(x.calendar);
                o.count("settlement_days", x.settlement_days, 2);
                o.convention(x.convention);
                return "Swap(" + quoted_text(tenor_text(x.tenor)) + ", " + format_number(x.rate) + o.text + ")";
            } else {
                const bonds::DatedBondTerms& t = x.bond.terms();
                return "BondQuote(<DatedBond " + format_number(t.coupon_rate) + " maturing " +
                       dates::format_iso(t.maturity) + ">, " + format_number(x.clean_price) + ")";
            }
        },
        i);
}

}  // namespace quelm::curves

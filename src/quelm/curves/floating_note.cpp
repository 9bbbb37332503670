#include "quelm/curves/floating_note.hpp"

#include <cmath>

#include "quelm/core/hash.hpp"
#include "quelm/core/text.hpp"
#include "quelm/curves/pricing.hpp"
#include "quelm/curves/sensitivity.hpp"
#include "quelm/dates/serial.hpp"

namespace quelm::curves {

Status check(const FloatingRateNote& n) {
    if (!(n.effective < n.maturity))
        return invalid("floating rate note: maturity " + dates::format_iso(n.maturity) + " is not after effective " +
                       dates::format_iso(n.effective));
    if (!(std::isfinite(n.spread) && std::fabs(n.spread) < kMaxRate))
        return invalid("floating rate note: spread must be a decimal within (-1, 1), got " + short_number(n.spread));
    if (!(std::isfinite(n.notional) && n.notional != 0.0))
        return invalid("floating rate note: notional must be finite and not zero");
    if (n.index_tenor.unit != dates::TenorUnit::Months || n.index_tenor.count < 1 || n.index_tenor.count > 12 ||
        12 % n.index_tenor.count != 0)
        return invalid("floating rate note: index_tenor must be 1M, 2M, 3M, 4M, 6M or 12M, got " +
                       tenor_text(n.index_tenor));
    if (n.fixing_days > 366) return invalid("floating rate note: fixing_days must be at most 366");
    return check_period_day_count("floating rate note", "day_count", n.day_count);
}

std::string describe(const FloatingRateNote& n) {
    const FloatingRateNote plain;
    std::string o;
    if (n.index_tenor != plain.index_tenor) o += ", index_tenor=" + single_quoted(tenor_text(n.index_tenor));
    if (n.notional != plain.notional) o += ", notional=" + format_number(n.notional);
    if (!(n.day_count == plain.day_count)) o += ", day_count=" + single_quoted(dates::day_count_name(n.day_count));
    if (n.calendar.name() != "target") o += ", calendar=" + single_quoted(n.calendar.name());
    if (n.convention != plain.convention)
        o += ", convention=" + single_quoted(dates::kConventions.aliases[static_cast<std::size_t>(n.convention)].name);
    if (n.fixing_days != plain.fixing_days) o += ", fixing_days=" + std::to_string(n.fixing_days);
    if (!n.curve.empty()) o += ", curve=" + single_quoted(n.curve);
    if (!n.discount_curve.empty()) o += ", discount_curve=" + single_quoted(n.discount_curve);
    if (!n.index.empty()) o += ", index=" + single_quoted(n.index);
    return "FloatingRateNote(" + single_quoted(dates::format_iso(n.effective)) + ", " + single_quoted(dates::format_iso(n.maturity)) +
           ", " + format_number(n.spread) + o + ")";
}

std::uint64_t hash_of(const FloatingRateNote& n) {
    Hasher h;
    h.mix(static_cast<std::uint64_t>(n.effective));
    h.mix(static_cast<std::uint64_t>(n.maturity));
    h.real(n.spread);
    h.mix(static_cast<std::uint64_t>(static_cast<std::uint32_t>(n.index_tenor.count)));
    h.real(n.notional);
    h.mix(static_cast<std::uint64_t>(n.day_count.kind));
    h.mix(n.calendar.hash());
    h.mix(static_cast<std::uint64_t>(n.convention));
    h.mix(n.fixing_days);
    for (const std::string* s : {&n.curve, &n.discount_curve, &n.index}) {
        h.mix(s->size());
        for (const char c : *s) h.mix(static_cast<unsigned char>(c));
    }
    return h.value();
}

Result<double> note_value(const FloatingRateNote& n, const YieldCurve& curve, const YieldCurve* discount) {
    const auto& ref = curve.dating().reference;
    if (!ref) return invalid(describe(n) + ": needs a curve with a reference date (the trade date)");
    const CurvePair pair = pricing_curves(curve, discount);
    if (pair.discount->dating().reference != ref)
        return invalid(describe(n) + ": the discount curve's reference date differs from the curve's");
    QUELM_TRY(kept, lay_out_note_kept(n, *ref));
    const Layout& layout = *kept;
    if (!layout.past.empty())
        return invalid(describe(n) + ": its coupon fixed before the curve's reference date " + dates::format_iso(*ref) +
                       ": seasoned trades need fixings");
    auto reading = read_curves(layout, pair);
    if (!reading) return std::unexpected(Error{reading.error().kind, describe(n) + ": " + reading.error().text});
    return n.notional * position_value(layout, reading->dp, reading->dd);
}

}  // namespace quelm::curves

#include "quelm/dates/day_count.hpp"

#include <cmath>

#include "quelm/dates/tenor.hpp"

namespace quelm::dates {

Result<DayCount> parse_day_count(std::string_view text) {
    DayCount dc;
    const std::size_t colon = text.find(':');
    auto kind = parse_choice(kDayCounts, text.substr(0, colon));
    if (!kind) return bad_argument(kind.error());
    dc.kind = *kind;
    if (colon != std::string_view::npos) {
        if (dc.kind != DayCountKind::Bus252)
            return bad_argument("only bus/252 takes a calendar (\"bus/252:<calendar>\"), got " + quote_literal(text));
        QUELM_TRY(cal, Calendar::parse(text.substr(colon + 1)));
        dc.calendar = std::move(cal);
    }
    return dc;
}

std::string day_count_name(const DayCount& dc) {
    const std::string_view base = kDayCounts.aliases[static_cast<std::size_t>(dc.kind)].name;
    if (dc.kind != DayCountKind::Bus252 || dc.calendar == Calendar()) return std::string(base);
    return std::string(base) + ":" + dc.calendar.name();
}

namespace {

bool last_of_february(const Civil& c) { return c.month == 2 && c.day == month_length(c.year, 2); }

std::int64_t thirty_360(Serial s, Serial e, DayCountKind kind, std::optional<Serial> termination) {
    const Civil a = civil_of(s), b = civil_of(e);
    unsigned d1 = a.day, d2 = b.day;
    switch (kind) {
        case DayCountKind::Thirty360:  // 4.16(f)
            if (d1 == 31) d1 = 30;
            if (d2 == 31 && d1 == 30) d2 = 30;
            break;
        case DayCountKind::Thirty360E:  // 4.16(g)
            if (d1 == 31) d1 = 30;
            if (d2 == 31) d2 = 30;
            break;
        default:  // 4.16(h)
            if (d1 == 31 || last_of_february(a)) d1 = 30;
            if (d2 == 31 || (last_of_february(b) && e != *termination)) d2 = 30;
            break;
    }
    return 360LL * (b.year - a.year) + 30LL * (static_cast<std::int64_t>(b.month) - a.month) +
           (static_cast<std::int64_t>(d2) - d1);
}

double act_act_isda(Serial s, Serial e) {
    const std::int32_t y1 = civil_of(s).year, y2 = civil_of(e).year;
    const double dib1 = leap_year(y1) ? 366.0 : 365.0, dib2 = leap_year(y2) ? 366.0 : 365.0;
    double sum = static_cast<double>(y2 - y1 - 1);
    sum += static_cast<double>(serial_of(y1 + 1, 1, 1) - s) / dib1;
    sum += static_cast<double>(e - serial_of(y2, 1, 1)) / dib2;
    return sum;
}

// Whole years counted back from the end (29 February steps back to 28 February), then
// the rest over 366 when it holds a 29 February, else over 365.
double act_act_afb(Serial s, Serial e) {
    Serial end = e;
    double years = 0.0;
    while (true) {
        Serial back = add_months(end, -12);
        const Civil c = civil_of(back);
        if (c.month == 2 && c.day == 28 && leap_year(c.year)) back += 1;
        if (back < s) break;
        years += 1.0;
        end = back;
        if (back == s) break;
    }
    double den = 365.0;
    const std::int32_t ye = civil_of(end).year, ys = civil_of(s).year;
    if (leap_year(ye)) {
        const Serial feb29 = serial_of(ye, 2, 29);
        if (end > feb29 && s <= feb29) den += 1.0;
    } else if (leap_year(ys)) {
        const Serial feb29 = serial_of(ys, 2, 29);
        if (end > feb29 && s <= feb29) den += 1.0;
    }
    return years + static_cast<double>(end - s) / den;
}

// A reference period's length in whole months, by its days.
std::int32_t icma_months(Serial ref_start, Serial ref_end) {
    return static_cast<std::int32_t>(std::lround(12.0 * static_cast<double>(ref_end - ref_start) / 365.0));
}

// ICMA Rule 251: days over (days of the reference period × its frequency), the
// frequency read from the reference period's length in months; a period longer than
// its reference period is split into notional periods of that length (with `eom`, rolled
// from a month's last day to the last days, as the bond's own schedule rolls).
Result<double> act_act_icma(Serial s, Serial e, Serial ref_start, Serial ref_end, bool eom) {
    if (s == e) return 0.0;
    if (!(ref_end > ref_start && ref_end > s))
        return invalid("act/act-icma: the reference period must end after it starts and after the start date");
    auto months = icma_months(ref_start, ref_end);
    if (months == 0) {
        ref_start = s;
        ref_end = add_months(s, 12);
        months = 12;
    }
    const double period = static_cast<double>(months) / 12.0;
    if (e <= ref_end) {
        if (s >= ref_start)
            return period * static_cast<double>(e - s) / static_cast<double>(ref_end - ref_start);
        // A long first period: the notional period before the reference one.
        const Serial previous = add_months(ref_start, -months, eom);
        if (e > ref_start) {
            QUELM_TRY(a, act_act_icma(s, ref_start, previous, ref_start, eom));
            QUELM_TRY(b, act_act_icma(ref_start, e, ref_start, ref_end, eom));
            return a + b;
        }
        return act_act_icma(s, e, previous, ref_start, eom);
    }
    if (ref_start > s) {
        // Long at both ends (a long first period paid after its end): the part before the
        // reference period, then the rest from its start.
        QUELM_TRY(before, act_act_icma(s, ref_start, ref_start, ref_end, eom));
        QUELM_TRY(after, act_act_icma(ref_start, e, ref_start, ref_end, eom));
        return before + after;
    }
    QUELM_TRY(sum, act_act_icma(s, ref_end, ref_start, ref_end, eom));
    // A long last period: whole notional periods after the reference one, then the rest.
    Serial notional_start = ref_end, notional_end = ref_end;
    for (std::int32_t i = 0;; ++i) {
        notional_start = add_months(ref_end, months * i, eom);
        notional_end = add_months(ref_end, months * (i + 1), eom);
        if (e < notional_end) break;
        sum += period;
    }
    QUELM_TRY(rest, act_act_icma(notional_start, e, notional_start, notional_end, eom));
    return sum + rest;
}

}  // namespace

std::optional<double> icma_period_years(Serial ref_start, Serial ref_end) {
    if (!(ref_end > ref_start)) return std::nullopt;
    const std::int32_t months = icma_months(ref_start, ref_end);
    if (months == 0) return std::nullopt;
    return static_cast<double>(months) / 12.0;
}

Result<std::int64_t> day_count(Serial start, Serial end, const DayCount& dc, std::optional<Serial> termination) {
    switch (dc.kind) {
        case DayCountKind::Thirty360:
        case DayCountKind::Thirty360E:
            return thirty_360(start, end, dc.kind, termination);
        case DayCountKind::Thirty360EIsda:
            if (!termination) return invalid("30e/360-isda needs the termination date");
            return thirty_360(start, end, dc.kind, termination);
        case DayCountKind::Bus252:
            return dc.calendar.business_days_between(start, end);
        default:
            return std::int64_t{end} - start;
    }
}

Result<double> year_fraction(Serial start, Serial end, const DayCount& dc, const Reference& ref) {
    if (ref.start.has_value() != ref.end.has_value())
        return invalid("ref_start and ref_end must be given together");
    switch (dc.kind) {
        case DayCountKind::Act360: return static_cast<double>(end - start) / 360.0;
        case DayCountKind::Act365F: return static_cast<double>(end - start) / 365.0;
        case DayCountKind::Act364: return static_cast<double>(end - start) / 364.0;
        case DayCountKind::Act36525: return static_cast<double>(end - start) / 365.25;
        case DayCountKind::Thirty360:
        case DayCountKind::Thirty360E:
        case DayCountKind::Thirty360EIsda: {
            QUELM_TRY(days, day_count(start, end, dc, ref.termination));
            return static_cast<double>(days) / 360.0;
        }
        case DayCountKind::ActActIsda:
            if (start == end) return 0.0;
            return start < end ? act_act_isda(start, end) : -act_act_isda(end, start);
        case DayCountKind::ActActAfb:
            if (start == end) return 0.0;
            return start < end ? act_act_afb(start, end) : -act_act_afb(end, start);
        case DayCountKind::ActActIcma: {
            if (start == end) return 0.0;
            const bool reversed = end < start;
            const Serial a = reversed ? end : start, b = reversed ? start : end;
            QUELM_TRY(yf, act_act_icma(a, b, ref.start.value_or(a), ref.end.value_or(b), ref.end_of_month));
            return reversed ? -yf : yf;
        }
        case DayCountKind::Bus252: {
            QUELM_TRY(days, dc.calendar.business_days_between(start, end));
            return static_cast<double>(days) / 252.0;
        }
    }
    return 0.0;
}

}  // namespace quelm::dates

#include "quelm/dates/schedule.hpp"

#include <algorithm>
#include <optional>
#include <string>

namespace quelm::dates {

namespace {

Status check_spec(const ScheduleSpec& s, Rule rule) {
    if (!(s.effective < s.termination)) return invalid("schedule: the effective date must precede the termination date");
    if (s.tenor.count < 0) return invalid("schedule: the tenor must be positive");
    if (s.first_date) {
        if (rule == Rule::Zero) return invalid("schedule: the zero rule takes no first date");
        if (!(*s.first_date > s.effective && *s.first_date <= s.termination))
            return invalid("schedule: first_date must lie after the effective date and on or before the termination date");
        if (rule == Rule::Imm && *s.first_date != nth_weekday(3, Weekday::Wednesday, civil_of(*s.first_date).year,
                                                               civil_of(*s.first_date).month))
            return invalid("schedule: with the imm rule, first_date must be a third Wednesday");
    }
    if (s.next_to_last_date) {
        if (rule == Rule::Zero) return invalid("schedule: the zero rule takes no next-to-last date");
        if (!(*s.next_to_last_date >= s.effective && *s.next_to_last_date < s.termination))
            return invalid("schedule: next_to_last_date must lie on or after the effective date and before the termination date");
    }
    if (s.first_date && s.next_to_last_date && *s.first_date > *s.next_to_last_date)
        return invalid("schedule: first_date " + format_iso(*s.first_date) + " must not be after next_to_last_date " +
                       format_iso(*s.next_to_last_date));
    // Third Wednesdays are one a month: a shorter tenor would repeat them.
    if (rule == Rule::Imm && (s.tenor.unit == TenorUnit::Days || s.tenor.unit == TenorUnit::Weeks))
        return invalid("schedule: the imm rule needs a tenor in months or years, got " + std::to_string(s.tenor.count) +
                       (s.tenor.unit == TenorUnit::Days ? "D" : "W"));
    return {};
}

// A seed date with its civil date.
struct SeedCivil {
    Serial serial;
    Civil civil;
    explicit SeedCivil(Serial s) : serial(s), civil(civil_of(s)) {}
};

// Where a step past the range of dates lands: beyond either end, so that the walk stops
// there as it does at any date past its end (the last period in range is still generated).
constexpr Serial kPastLast = kLastSerial + 1;
constexpr Serial kBeforeFirst = kFirstSerial - 1;

// The generation steps move on a calendar without holidays, as the roll dates do.
Result<Serial> step(Serial seed, const ScheduleSpec& s, std::int32_t periods, bool eom, const SeedCivil& seed_civil) {
    static const Calendar every_day = Calendar::every_day();
    Tenor t = s.tenor;
    t.count *= periods;
    const Serial outside = t.count > 0 ? kPastLast : kBeforeFirst;
    if (t.unit == TenorUnit::Days || t.unit == TenorUnit::Weeks) {
        const std::int64_t d = std::int64_t{seed} + (t.unit == TenorUnit::Weeks ? 7LL : 1LL) * t.count;
        if (d < kFirstSerial || d > kLastSerial) return outside;
        if (t.unit == TenorUnit::Days) return static_cast<Serial>(d);
        return advance(every_day, seed, t, s.convention, eom);
    }
    // The month moved from the seed's civil date (found once a walk), the day clamped: that
    // is advance on every day without the end-of-month rule.
    const Civil& from = seed_civil.serial == seed ? seed_civil.civil : civil_of(seed);
    const std::optional<Serial> moved = add_months(from, t.months());
    if (!moved) return outside;
    if (!eom) return *moved;
    return advance(every_day, seed, t, s.convention, eom);
}


// One end of a schedule to the other, in whole periods from `from` (or from the stub date next
// to it); `direction` is +1 for the forward rule, -1 for the backward one. Dates and their
// regular flags come out in walking order; `seed` ends as the date the periods were counted from.
struct Walk {
    Serial from;
    std::optional<Serial> near_stub;
    std::optional<Serial> far_stub;
    Serial to;
    Convention to_convention;
    std::int32_t direction;
};

// adjusted[i]: dates[i] adjusted under the schedule's convention where the walk found it
// (else kNotAdjusted), so the dates are not adjusted twice.
constexpr Serial kNotAdjusted = kFirstSerial - 1;

Status walk(const Walk& w, const ScheduleSpec& s, bool eom, std::vector<Serial>& dates, std::vector<bool>& regular,
            std::vector<Serial>& adjusted, Serial& seed) {
    auto adj = [&](Serial d, Convention c) { return adjust(s.calendar, d, c); };
    auto beyond = [&](Serial a, Serial b) { return w.direction > 0 ? a > b : a < b; };
    // Appends d unless it adjusts onto the date before it. The last date's adjustment under
    // the walk's convention is kept, so each date is adjusted once.
    std::optional<Serial> back_adjusted;
    auto append = [&](Serial d, Convention c, bool is_regular) -> Status {
        Serial a;
        if (c == s.convention && back_adjusted) {
            a = *back_adjusted;
        } else {
            QUELM_TRY(fresh, adj(dates.back(), c));
            a = fresh;
        }
        QUELM_TRY(b, adj(d, c));
        if (a != b) {
            dates.push_back(d);
            adjusted.push_back(c == s.convention ? b : kNotAdjusted);
            regular.push_back(is_regular);
            if (c == s.convention) back_adjusted = b;
            else back_adjusted.reset();
        } else if (c != s.convention) {
            back_adjusted.reset();
        } else {
            back_adjusted = a;
        }
        return {};
    };
    dates.push_back(w.from);
    adjusted.push_back(kNotAdjusted);
    seed = w.from;
    if (w.near_stub) {
        dates.push_back(*w.near_stub);
        adjusted.push_back(kNotAdjusted);
        QUELM_TRY(temp, step(seed, s, w.direction, eom, SeedCivil(seed)));
        regular.push_back(temp == *w.near_stub);
        seed = *w.near_stub;
    }
    const Serial exit = w.far_stub.value_or(w.to);
    const SeedCivil seed_civil(seed);
    for (std::int32_t periods = 1;; ++periods) {
        QUELM_TRY(temp, step(seed, s, w.direction * periods, eom, seed_civil));
        if (beyond(temp, exit)) {
            if (w.far_stub) QUELM_CHECK(append(*w.far_stub, s.convention, false));
            break;
        }
        QUELM_CHECK(append(temp, s.convention, true));
        if (periods > 200000) return invalid("schedule: too many periods");
    }
    return append(w.to, w.to_convention, false);
}
}  // namespace

Result<Schedule> make_schedule(const ScheduleSpec& s) {
    Rule rule = s.rule;
    if (s.tenor.count == 0) rule = Rule::Zero;
    QUELM_CHECK(check_spec(s, rule));
    QUELM_CHECK(s.calendar.check_covers(s.effective, s.termination));  // names the date given, not a rolled one
    const Calendar& cal = s.calendar;
    const bool eom = s.end_of_month && s.tenor.unit != TenorUnit::Days && s.tenor.unit != TenorUnit::Weeks;
    auto adj = [&](Serial d, Convention c) { return adjust(cal, d, c); };
    Schedule out;
    std::vector<Serial>& dates = out.dates;
    std::vector<bool> regular;  // built in generation order; regular[i] belongs to the period ending at dates[i+1]
    std::vector<Serial> adjusted;
    Serial seed = s.effective;

    if (rule == Rule::Zero) {
        dates = {s.effective, s.termination};
        regular = {true};
    } else if (rule == Rule::Backward) {
        QUELM_CHECK(walk({s.termination, s.next_to_last_date, s.first_date, s.effective, s.convention, -1}, s, eom, dates,
                         regular, adjusted, seed));
        std::reverse(dates.begin(), dates.end());
        std::reverse(regular.begin(), regular.end());
        std::reverse(adjusted.begin(), adjusted.end());
    } else {  // forward and imm
        QUELM_CHECK(walk({s.effective, s.first_date, s.next_to_last_date, s.termination, s.termination_convention, 1}, s,
                         eom, dates, regular, adjusted, seed));
    }

    if (rule == Rule::Imm) {
        for (std::size_t i = 1; i + 1 < dates.size(); ++i) {
            const Civil c = civil_of(dates[i]);
            dates[i] = nth_weekday(3, Weekday::Wednesday, c.year, c.month);
        }
    }
    // Inner dates: with end_of_month and a seed on its month's last business day, each
    // moves to its month's last calendar day first; all are then adjusted.
    const bool roll_to_month_end = eom && rule != Rule::Zero && cal.is_end_of_month(seed);
    const bool moved = roll_to_month_end || rule == Rule::Imm;  // the walk's adjustments no longer apply
    for (std::size_t i = 1; i + 1 < dates.size(); ++i) {
        if (!moved && adjusted.size() == dates.size() && adjusted[i] != kNotAdjusted) {
            dates[i] = adjusted[i];
            continue;
        }
        QUELM_TRY(d, adj(roll_to_month_end ? end_of_month(dates[i]) : dates[i], s.convention));
        dates[i] = d;
    }
    QUELM_TRY(first, adj(dates.front(), s.convention));
    dates.front() = first;
    QUELM_TRY(last, adj(dates.back(), s.termination_convention));
    dates.back() = last;
    // End-of-month moves can put the next-to-last date on or after the last (or the second
    // on or before the first): the two merge.
    if (dates.size() >= 2 && dates[dates.size() - 2] >= dates.back()) {
        if (regular.size() >= 2) regular[regular.size() - 2] = dates[dates.size() - 2] == dates.back();
        dates[dates.size() - 2] = dates.back();
        dates.pop_back();
        regular.pop_back();
    }
    if (dates.size() >= 2 && dates[1] <= dates.front()) {
        if (regular.size() >= 2) regular[1] = dates[1] == dates.front();
        dates[1] = dates.front();
        dates.erase(dates.begin());
        regular.erase(regular.begin());
    }
    if (dates.size() < 2) return invalid("schedule: the dates collapse into a single date");
    // Whatever the stubs and adjustments did, a schedule never goes back in time (a date
    // may repeat, as an end-of-month roll can move a stub date onto the next one).
    for (std::size_t i = 1; i < dates.size(); ++i)
        if (dates[i] < dates[i - 1])
            return invalid("schedule: the dates go back in time (" + format_iso(dates[i - 1]) + " then " +
                           format_iso(dates[i]) + "); check first_date, next_to_last_date, tenor and rule");
    out.regular = std::move(regular);
    return out;
}

}  // namespace quelm::dates

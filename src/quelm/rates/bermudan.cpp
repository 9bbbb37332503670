#include "quelm/rates/bermudan.hpp"

#include <algorithm>
#include <cmath>

#include "quelm/core/text.hpp"
#include "quelm/curves/instrument.hpp"
#include "quelm/dates/schedule.hpp"

namespace quelm::rates {

Status check(const BermudanSwaption& b) {
    if (b.exercise_dates.empty()) return invalid("Bermudan swaption: needs at least one exercise date");
    for (std::size_t i = 1; i < b.exercise_dates.size(); ++i)
        if (!(b.exercise_dates[i] > b.exercise_dates[i - 1]))
            return invalid("Bermudan swaption: exercise dates must be strictly increasing");
    if (!(b.exercise_dates.back() < b.maturity))
        return invalid("Bermudan swaption: the last exercise date " + dates::format_iso(b.exercise_dates.back()) +
                       " is not before maturity " + dates::format_iso(b.maturity));
    if (!std::isfinite(b.strike) || !(std::fabs(b.strike) < curves::kMaxRate))
        return invalid("Bermudan swaption: strike must be a decimal within (-1, 1), got " + short_number(b.strike));
    if (!(b.fixed_frequency == 1 || b.fixed_frequency == 2 || b.fixed_frequency == 4 || b.fixed_frequency == 12))
        return invalid("Bermudan swaption: fixed_frequency must be 1, 2, 4 or 12, got " +
                       std::to_string(b.fixed_frequency));
    if (!(std::isfinite(b.notional) && b.notional != 0.0))
        return invalid("Bermudan swaption: notional must be finite and not zero");
    return curves::check_period_day_count("Bermudan swaption", "fixed_day_count", b.fixed_day_count);
}

std::string describe(const BermudanSwaption& b) {
    std::string dates = "[";
    for (std::size_t i = 0; i < b.exercise_dates.size(); ++i) {
        if (i > 0) dates += ", ";
        if (i == 2 && b.exercise_dates.size() > 4) {
            dates += "...";
            i = b.exercise_dates.size() - 2;
            continue;
        }
        dates += single_quoted(dates::format_iso(b.exercise_dates[i]));
    }
    dates += "]";
    std::string o;
    if (b.kind != SwaptionKind::Payer) o += ", kind='receiver'";
    if (b.fixed_frequency != 1) o += ", fixed_frequency=" + std::to_string(b.fixed_frequency);
    if (b.notional != 1.0) o += ", notional=" + format_number(b.notional);
    if (!b.curve.empty()) o += ", curve=" + single_quoted(b.curve);
    if (!b.vol.empty()) o += ", vol=" + single_quoted(b.vol);
    return "BermudanSwaption(" + dates + ", " + single_quoted(dates::format_iso(b.maturity)) + ", " +
           format_number(b.strike) + o + ")";
}

Result<FixedLeg> fixed_leg(const BermudanSwaption& b) {
    const auto fail = [&](const Error& e) { return std::unexpected(Error{e.kind, describe(b) + ": " + e.text}); };
    dates::ScheduleSpec spec{.effective = b.exercise_dates.front(),
                             .termination = b.maturity,
                             .tenor = {static_cast<std::int32_t>(12 / b.fixed_frequency), dates::TenorUnit::Months},
                             .calendar = b.calendar,
                             .convention = dates::Convention::ModifiedFollowing,
                             .termination_convention = dates::Convention::ModifiedFollowing,
                             .rule = dates::Rule::Backward,
                             .end_of_month = false,
                             .first_date = std::nullopt,
                             .next_to_last_date = std::nullopt};
    auto schedule = dates::make_schedule(spec);
    if (!schedule) return fail(schedule.error());
    const std::vector<dates::Serial>& d = schedule->dates;
    FixedLeg leg;
    for (std::size_t i = 1; i < d.size(); ++i) {
        auto tau = dates::year_fraction(d[i - 1], d[i], b.fixed_day_count);
        if (!tau) return fail(tau.error());
        leg.starts.push_back(d[i - 1]);
        leg.ends.push_back(d[i]);
        leg.accruals.push_back(*tau);
    }
    for (const dates::Serial e : b.exercise_dates) {
        auto rolled = dates::adjust(b.calendar, e, dates::Convention::ModifiedFollowing);
        if (!rolled) return fail(rolled.error());
        if (!std::binary_search(leg.starts.begin(), leg.starts.end(), *rolled))
            return fail({Kind::InvalidInput, "exercise date " + dates::format_iso(e) +
                                                 " is not a start of the fixed leg's periods"});
        leg.exercises.push_back(*rolled);
    }
    return leg;
}

}  // namespace quelm::rates

#include "quelm/rates/cap_floor.hpp"

#include <algorithm>
#include <cmath>

#include "quelm/core/math/solvers.hpp"
#include "quelm/core/text.hpp"
#include "quelm/curves/instrument.hpp"
#include "quelm/curves/pricing.hpp"
#include "quelm/dates/schedule.hpp"
#include "quelm/dates/serial.hpp"
#include "quelm/rates/rate_dates.hpp"

namespace quelm::rates {

namespace {

using dates::Serial;

std::string_view kind_name(CapKind k) { return k == CapKind::Cap ? "cap" : "floor"; }
double theta_of(CapKind k) { return k == CapKind::Cap ? 1.0 : -1.0; }

std::unexpected<Error> named(const CapFloor& c, const Error& e) {
    return std::unexpected(Error{e.kind, describe(c) + ": " + e.text});
}

// The periods and their dates on the curves, vols left to the caller.
Result<std::vector<Caplet>> lay_out(const CapFloor& c, const CurveArgs& on) {
    QUELM_TRY(pair, pair_of(*on.curve, on.discount));
    const Serial reference = *pair.projection->dating().reference;
    Serial start = 0;
    if (c.effective) {
        start = *c.effective;
    } else {
        QUELM_TRY(spot, spot_date(c.calendar, reference, c.settlement_days));
        start = spot;
    }
    Serial end = 0;
    if (c.tenor) {
        QUELM_TRY(e, dates::advance(dates::Calendar::every_day(), start, *c.tenor, dates::Convention::Unadjusted, false));
        end = e;
    } else {
        end = *c.maturity;
    }
    if (!(start < end))
        return invalid("ends on " + dates::format_iso(end) + ", not after its start " + dates::format_iso(start));
    dates::ScheduleSpec spec{.effective = start,
                             .termination = end,
                             .tenor = c.index_tenor,
                             .calendar = c.calendar,
                             .convention = c.convention,
                             .termination_convention = c.convention,
                             .rule = dates::Rule::Backward,
                             .end_of_month = false,
                             .first_date = std::nullopt,
                             .next_to_last_date = std::nullopt};
    QUELM_TRY(schedule, dates::make_schedule(spec));
    const std::vector<Serial>& d = schedule.dates;
    std::vector<Caplet> out;
    out.reserve(d.size() - 1);
    for (std::size_t i = 1; i < d.size(); ++i) {
        Caplet k{};
        k.start = d[i - 1];
        k.end = d[i];
        k.payment = d[i];
        QUELM_TRY(fixing, dates::advance(c.calendar, k.start,
                                         {-static_cast<std::int32_t>(c.fixing_days), dates::TenorUnit::Days},
                                         dates::Convention::Preceding, false));
        k.fixing = fixing;
        k.fixed = fixing <= reference;
        QUELM_TRY(tau, dates::year_fraction(k.start, k.end, c.day_count));
        k.accrual = tau;
        k.t = vol_time(reference, fixing);
        if (k.payment <= reference) k.fixed = true;
        if (!k.fixed) {
            QUELM_TRY(p0, pair.projection->discount_on(k.start));
            QUELM_TRY(p1, pair.projection->discount_on(k.end));
            QUELM_TRY(pd, pair.discount->discount_on(k.payment));
            k.forward = (p0 / p1 - 1.0) / tau;
            k.discount = pd;
        }
        out.push_back(k);
    }
    return out;
}

// The live caplets priced at a flat vol, with the scale of each (notional × accrual × discount).
Result<double> strip_price(const CapFloor& c, const std::vector<Caplet>& ks, double vol, const Quoting& q,
                           double* vega) {
    const double theta = theta_of(c.kind);
    double sum = 0.0, dv = 0.0;
    for (const Caplet& k : ks) {
        if (k.fixed) continue;
        const double scale = c.notional * k.accrual * k.discount;
        QUELM_TRY(p, optionlet(q, k.forward, c.strike, vol, k.t, theta, "the caplet fixing " + dates::format_iso(k.fixing)));
        sum += scale * p;
        if (vega) dv += scale * optionlet_vega(q, k.forward, c.strike, vol, k.t, theta);
    }
    if (vega) *vega = dv;
    return sum;
}

}  // namespace

double VolTerm::at(double t) const {
    if (times.empty()) return vols.front();
    if (t <= times.front()) return vols.front();
    if (t >= times.back()) return vols.back();
    const std::size_t j = static_cast<std::size_t>(std::upper_bound(times.begin(), times.end(), t) - times.begin());
    const double t0 = times[j - 1], t1 = times[j];
    const double w0 = vols[j - 1] * vols[j - 1] * t0, w1 = vols[j] * vols[j] * t1;
    const double w = w0 + (w1 - w0) * (t - t0) / (t1 - t0);
    return std::sqrt(w / t);
}

Status check_vol_term(const VolTerm& v) {
    if (v.vols.empty()) return invalid("vol: needs at least one vol");
    if (!v.times.empty() && v.times.size() != v.vols.size())
        return invalid("vol: " + std::to_string(v.times.size()) + " times but " + std::to_string(v.vols.size()) +
                       " vols");
    for (const double s : v.vols)
        if (!(s >= 0.0) || !std::isfinite(s)) return invalid("vol must be finite and >= 0, got " + short_number(s));
    for (std::size_t i = 0; i < v.times.size(); ++i) {
        if (!(v.times[i] > 0.0) || !std::isfinite(v.times[i]))
            return invalid("vol: times must be finite and > 0, got " + short_number(v.times[i]));
        if (i > 0 && !(v.times[i] > v.times[i - 1])) return invalid("vol: times must be strictly increasing");
    }
    // Total variance falls between two times: no vols for the times between them.
    for (std::size_t i = 1; i < v.times.size(); ++i)
        if (v.vols[i] * v.vols[i] * v.times[i] < v.vols[i - 1] * v.vols[i - 1] * v.times[i - 1])
            return invalid("vol: total variance falls from t = " + short_number(v.times[i - 1]) + " to t = " +
                           short_number(v.times[i]));
    return {};
}

Status check(const CapFloor& c) {
    const std::string who(kind_name(c.kind));
    if (c.tenor.has_value() == c.maturity.has_value())
        return invalid(who + ": give a tenor or a maturity, exactly one");
    if (c.tenor && !(c.tenor->count > 0 && (c.tenor->unit == dates::TenorUnit::Months ||
                                             c.tenor->unit == dates::TenorUnit::Years)))
        return invalid(who + ": tenor must be a positive number of months or years, got " + curves::tenor_text(*c.tenor));
    if (c.maturity && c.effective && !(*c.effective < *c.maturity))
        return invalid(who + ": maturity " + dates::format_iso(*c.maturity) + " is not after effective " +
                       dates::format_iso(*c.effective));
    if (!std::isfinite(c.strike) || !(std::fabs(c.strike) < curves::kMaxRate))
        return invalid(who + ": strike must be a decimal within (-1, 1), got " + short_number(c.strike));
    if (c.index_tenor.unit != dates::TenorUnit::Months || c.index_tenor.count < 1 || c.index_tenor.count > 12 ||
        12 % c.index_tenor.count != 0)
        return invalid(who + ": index_tenor must be 1M, 2M, 3M, 4M, 6M or 12M, got " + curves::tenor_text(c.index_tenor));
    if (!(std::isfinite(c.notional) && c.notional != 0.0)) return invalid(who + ": notional must be finite and not zero");
    if (c.settlement_days > 366) return invalid(who + ": settlement_days must be at most 366");
    if (c.fixing_days > 366) return invalid(who + ": fixing_days must be at most 366");
    return curves::check_period_day_count(who, "day_count", c.day_count);
}

std::string describe(const CapFloor& c) {
    const CapFloor plain;
    std::string o;
    if (c.index_tenor != plain.index_tenor) o += ", index_tenor=" + single_quoted(curves::tenor_text(c.index_tenor));
    if (c.effective) o += ", effective=" + single_quoted(dates::format_iso(*c.effective));
    if (c.maturity) o += ", maturity=" + single_quoted(dates::format_iso(*c.maturity));
    if (c.notional != plain.notional) o += ", notional=" + format_number(c.notional);
    if (!(c.day_count == plain.day_count)) o += ", day_count=" + single_quoted(dates::day_count_name(c.day_count));
    if (c.calendar.name() != "target") o += ", calendar=" + single_quoted(c.calendar.name());
    if (c.convention != plain.convention)
        o += ", convention=" + single_quoted(dates::kConventions.aliases[static_cast<std::size_t>(c.convention)].name);
    if (c.settlement_days != plain.settlement_days) o += ", settlement_days=" + std::to_string(c.settlement_days);
    if (c.fixing_days != plain.fixing_days) o += ", fixing_days=" + std::to_string(c.fixing_days);
    if (!c.curve.empty()) o += ", curve=" + single_quoted(c.curve);
    if (!c.discount_curve.empty()) o += ", discount_curve=" + single_quoted(c.discount_curve);
    if (!c.vol.empty()) o += ", vol=" + single_quoted(c.vol);
    const std::string tenor = c.tenor ? single_quoted(curves::tenor_text(*c.tenor)) : "None";
    return "CapFloor(" + single_quoted(kind_name(c.kind)) + ", " + tenor + ", " + format_number(c.strike) + o + ")";
}

Result<std::vector<Caplet>> caplets(const CapFloor& c, const CurveArgs& on, const VolTerm& vol, const Quoting& q) {
    QUELM_CHECK(check_vol_term(vol));
    QUELM_CHECK(check_quoting(q));
    auto ks = lay_out(c, on);
    if (!ks) return named(c, ks.error());
    const double theta = theta_of(c.kind);
    for (Caplet& k : *ks) {
        k.vol = vol.at(k.t);
        if (k.fixed) continue;
        auto p = optionlet(q, k.forward, c.strike, k.vol, k.t, theta, "the caplet fixing " + dates::format_iso(k.fixing));
        if (!p) return named(c, p.error());
        k.price = c.notional * k.accrual * k.discount * *p;
    }
    return ks;
}

Result<double> cap_price(const CapFloor& c, const CurveArgs& on, const VolTerm& vol, const Quoting& q) {
    QUELM_TRY(ks, caplets(c, on, vol, q));
    double sum = 0.0;
    for (const Caplet& k : ks) sum += k.price;
    return sum;
}

Result<PricedCap> cap_priced_on(const CapFloor& c, const CurveArgs& on) {
    QUELM_CHECK(check(c));
    auto ks = lay_out(c, on);
    if (!ks) return named(c, ks.error());
    return PricedCap{c, std::move(*ks)};
}

Result<double> priced_cap_price(const PricedCap& p, double vol, std::optional<double> strike, const Quoting& q) {
    CapFloor c = p.cap;
    if (strike) {
        c.strike = *strike;
        QUELM_CHECK(check(c));
    }
    // As caplets() and cap_price() read a flat vol, step for step.
    const VolTerm flat{{}, {vol}};
    QUELM_CHECK(check_vol_term(flat));
    QUELM_CHECK(check_quoting(q));
    const double theta = theta_of(c.kind);
    double sum = 0.0;
    for (const Caplet& k : p.caplets) {
        if (k.fixed) {
            sum += k.price;
            continue;
        }
        auto o = optionlet(q, k.forward, c.strike, flat.at(k.t), k.t, theta,
                           "the caplet fixing " + dates::format_iso(k.fixing));
        if (!o) return named(c, o.error());
        sum += c.notional * k.accrual * k.discount * *o;
    }
    return sum;
}

Result<double> cap_vega(const CapFloor& c, const CurveArgs& on, const VolTerm& vol, const Quoting& q) {
    QUELM_TRY(ks, caplets(c, on, vol, q));
    double sum = 0.0;
    for (const Caplet& k : ks)
        if (!k.fixed)
            sum += c.notional * k.accrual * k.discount *
                   optionlet_vega(q, k.forward, c.strike, k.vol, k.t, theta_of(c.kind));
    return sum;
}

Result<double> cap_delta(const CapFloor& c, const CurveArgs& on, const VolTerm& vol, const Quoting& q) {
    QUELM_TRY(ks, caplets(c, on, vol, q));
    double sum = 0.0;
    for (const Caplet& k : ks)
        if (!k.fixed)
            sum += c.notional * k.accrual * k.discount *
                   optionlet_delta(q, k.forward, c.strike, k.vol, k.t, theta_of(c.kind));
    return sum;
}

Result<double> cap_atm_strike(const CapFloor& c, const CurveArgs& on) {
    auto ks = lay_out(c, on);
    if (!ks) return named(c, ks.error());
    double num = 0.0, den = 0.0;
    for (const Caplet& k : *ks) {
        if (k.fixed) continue;
        num += k.accrual * k.discount * k.forward;
        den += k.accrual * k.discount;
    }
    if (!(den > 0.0)) return named(c, {Kind::InvalidInput, "has no caplet left to fix"});
    return num / den;
}

Result<double> cap_implied_vol(const CapFloor& c, double price, const CurveArgs& on, const Quoting& q) {
    QUELM_CHECK(check_quoting(q));
    if (!std::isfinite(price)) return named(c, {Kind::InvalidInput, "price must be finite, got " + short_number(price)});
    auto ks = lay_out(c, on);
    if (!ks) return named(c, ks.error());
    std::size_t live = 0;
    const Caplet* one = nullptr;
    for (const Caplet& k : *ks)
        if (!k.fixed) ++live, one = &k;
    if (live == 0) return named(c, {Kind::InvalidInput, "has no caplet left to fix"});
    if (live == 1) {
        const double scale = c.notional * one->accrual * one->discount;
        auto v = optionlet_implied_vol(q, price / scale, one->forward, c.strike, one->t, theta_of(c.kind));
        if (!v) return named(c, v.error());
        return v;
    }
    // The strip's price rises with the vol from its value at 0 (the intrinsic values): a
    // price at or below it, or at the vol's upper reach, has no flat vol.
    QUELM_TRY(low, strip_price(c, *ks, 0.0, q, nullptr));
    if (!(price > low))
        return named(c, {Kind::InvalidInput, "price " + short_number(price) + " is at or below the intrinsic value " +
                                            short_number(low) + ": no implied vol"});
    // A first guess from the at-the-money approximation: price ≈ vega-weight × vol.
    double guess = q.model == VolModel::Bachelier ? 0.01 : 0.2;
    {
        double vega = 0.0;
        QUELM_TRY(p, strip_price(c, *ks, guess, q, &vega));
        if (vega > 0.0) {
            const double g = guess + (price - p) / vega;
            if (g > 0.0 && std::isfinite(g)) guess = g;
        }
    }
    double vol = guess;
    Status failed;
    const auto f = [&](double v, double& slope) -> double {
        if (!(v > 0.0)) return std::nan("");
        double vega = 0.0;
        auto p = strip_price(c, *ks, v, q, &vega);
        if (!p) {
            failed = std::unexpected(p.error());
            return std::nan("");
        }
        slope = vega;
        return *p - price;
    };
    const NewtonSettings settings{1e-13 * std::fmax(std::fabs(price), 1e-300), 100, 60, 1e-15};
    const NewtonEnd end = damped_newton(f, vol, settings);
    if (!failed) return named(c, failed.error());
    if (end.status != SolveStatus::Converged)
        return named(c, {Kind::Numerical, "no flat vol reprices " + short_number(price)});
    return vol;
}

}  // namespace quelm::rates

#include "quelm/curves/curve.hpp"

#include <atomic>
#include <cmath>
#include <utility>

#include "quelm/core/math/elementary.hpp"
#include "quelm/core/text.hpp"
#include "quelm/dates/serial.hpp"

namespace quelm::curves {

namespace {

bool all_finite(std::span<const double> v) {
    for (double x : v) {
        if (!std::isfinite(x)) return false;
    }
    return true;
}

}  // namespace

Status validate_times(std::span<const double> times, std::size_t n_values) {
    if (times.size() != n_values) return invalid("yield curve: times and values must have equal length");
    if (times.size() < 2) return invalid("yield curve: need at least two pillars");
    if (times[0] < 0.0) return invalid("yield curve: pillar times must be non-negative");
    if (!all_finite(times)) return invalid("yield curve: pillar times must be finite");
    for (std::size_t i = 0; i + 1 < times.size(); ++i) {
        if (times[i] >= times[i + 1]) return invalid("yield curve: pillar times must be strictly increasing");
    }
    return {};
}

YieldCurve::YieldCurve() {
    static std::atomic<std::uint64_t> made{0};
    stamp_ = made.fetch_add(1, std::memory_order_relaxed) + 1;
}

Result<YieldCurve> YieldCurve::flat(double rate, const Dating& dating) {
    if (!std::isfinite(rate)) return invalid("yield curve: rate must be finite");
    YieldCurve c;
    c.rate_ = rate;
    c.dating_ = dating;
    return c;
}

Result<YieldCurve> YieldCurve::pillars(std::span<const double> times, std::vector<double> values, Interp interp,
                                       Extrapolation extrapolate, const Dating& dating) {
    YieldCurve c;
    c.flat_ = false;
    c.times_.assign(times.begin(), times.end());
    c.values_ = std::move(values);
    c.interp_ = interp;
    c.extrapolate_ = extrapolate;
    c.dating_ = dating;
    const std::size_t n = c.times_.size() - 1;
    const double h = c.times_[n] - c.times_[n - 1];
    switch (interp) {
        case Interp::NaturalCubic: {
            QUELM_TRY(spline, NaturalCubicSpline::create(c.times_, c.values_));
            c.spline_.emplace(std::move(spline));
            c.end_forward_ = c.values_[n] + c.spline_->end_slope() * c.times_[n];
            break;
        }
        case Interp::MonotoneConvex: {
            std::vector<double> integrals(c.values_.size());
            for (std::size_t i = 0; i < integrals.size(); ++i) integrals[i] = -c.values_[i];
            QUELM_TRY(convex, MonotoneConvex::create(c.times_, integrals));
            c.convex_.emplace(std::move(convex));
            c.end_forward_ = c.convex_->last_value();
            break;
        }
        case Interp::Linear:
            c.end_forward_ = c.values_[n] + (c.values_[n] - c.values_[n - 1]) / h * c.times_[n];
            break;
        case Interp::LogLinear:
        case Interp::FlatForward: c.end_forward_ = -(c.values_[n] - c.values_[n - 1]) / h; break;
    }
    return c;
}

Result<YieldCurve> YieldCurve::from_zero_rates(std::span<const double> times, std::span<const double> rates,
                                               Interp interp, Extrapolation extrapolate, const Dating& dating) {
    QUELM_CHECK(validate_times(times, rates.size()));
    if (!all_finite(rates)) return invalid("yield curve: zero rates must be finite");
    std::vector<double> values(rates.begin(), rates.end());
    if (interp == Interp::LogLinear) {
        for (std::size_t i = 0; i < values.size(); ++i) values[i] = -rates[i] * times[i];
    }
    return pillars(times, std::move(values), interp, extrapolate, dating);
}

Result<YieldCurve> YieldCurve::from_discount_factors(std::span<const double> times, std::span<const double> dfs,
                                                     Interp interp, Extrapolation extrapolate, const Dating& dating) {
    QUELM_CHECK(validate_times(times, dfs.size()));
    if (times[0] == 0.0)
        return invalid("yield curve: discount-factor pillars must have t > 0; use from_zero_rates for a t=0 anchor");
    for (double df : dfs) {
        if (!(std::isfinite(df) && df > 0.0)) return invalid("yield curve: discount factors must be finite and positive");
    }
    std::vector<double> values(dfs.size());
    for (std::size_t i = 0; i < dfs.size(); ++i) {
        values[i] = interp == Interp::LogLinear ? quelm::log(dfs[i]) : -quelm::log(dfs[i]) / times[i];
    }
    return pillars(times, std::move(values), interp, extrapolate, dating);
}

Result<YieldCurve> YieldCurve::from_log_discounts(std::span<const double> times, std::span<const double> log_dfs,
                                                  Extrapolation extrapolate, const Dating& dating) {
    QUELM_CHECK(validate_times(times, log_dfs.size()));
    if (!all_finite(log_dfs)) return invalid("yield curve: log discount factors must be finite");
    return pillars(times, std::vector<double>(log_dfs.begin(), log_dfs.end()), Interp::LogLinear, extrapolate,
                   dating);
}

Result<YieldCurve> YieldCurve::from_nodes(std::span<const double> times, std::vector<double> values, Interp interp,
                                          Extrapolation extrapolate, const Dating& dating) {
    QUELM_CHECK(validate_times(times, values.size()));
    if (!all_finite(values)) return invalid("yield curve: pillar values must be finite");
    if (interp != Interp::Linear && interp != Interp::NaturalCubic && times[0] == 0.0 && values[0] != 0.0)
        return invalid("yield curve: the log discount factor at t=0 must be 0");
    return pillars(times, std::move(values), interp, extrapolate, dating);
}

YieldCurve YieldCurve::with_state(std::shared_ptr<const BootstrapState> state) const {
    YieldCurve c = *this;
    c.state_ = std::move(state);
    return c;
}

Result<double> YieldCurve::outside(double t, const dates::Serial* date) const {
    const double first = times_.front(), last = times_.back();
    if (extrapolate_ == Extrapolation::None) {
        std::string what = "t=" + format_number(t);
        if (date != nullptr) what = dates::format_iso(*date) + " (" + what + ")";
        return invalid("yield curve: " + what + " is outside the pillar range [" + format_number(first) + ", " +
                       format_number(last) + "] and the curve does not extrapolate (extrapolate=\"none\")");
    }
    if (t < first) {
        // The first pillar's zero rate holds (first > 0 here: t >= 0 was checked).
        const double z0 = on_log_discounts() ? -values_.front() / first : values_.front();
        return -z0 * t;
    }
    QUELM_TRY(at_last, log_discount_at(last, nullptr));
    return at_last - end_forward_ * (t - last);
}

Result<double> YieldCurve::log_discount_at(double t, const dates::Serial* date) const {
    if (t < 0.0) return invalid("yield curve: t must be >= 0");
    if (t == 0.0) return 0.0;
    if (flat_) return -rate_ * t;
    if (t < times_.front() || t > times_.back()) return outside(t, date);
    switch (interp_) {
        case Interp::LogLinear:
        case Interp::FlatForward: return linear_on_valid_nodes(times_, values_, t);
        case Interp::MonotoneConvex: return -convex_->integral(t);
        case Interp::NaturalCubic: {
            QUELM_TRY(z, spline_->eval(t));
            return -z * t;
        }
        case Interp::Linear: break;
    }
    QUELM_TRY(z, linear_on_valid_nodes(times_, values_, t));
    return -z * t;
}

Result<double> YieldCurve::discount_at(double t, const dates::Serial* date) const {
    if (t == 0.0) return 1.0;
    QUELM_TRY(y, log_discount_at(t, date));
    return quelm::exp(y);
}

Result<double> YieldCurve::log_discount(double t) const { return log_discount_at(t, nullptr); }

Result<double> YieldCurve::discount(double t) const { return discount_at(t, nullptr); }

Result<double> YieldCurve::zero_rate_at(double t, const dates::Serial* date) const {
    if (t < 0.0) return invalid("yield curve: t must be >= 0");
    if (t == 0.0) {
        if (flat_) return rate_;
        // A zero-rate pillar at 0 is the limit of z(t) as t -> 0: answer it, not
        // the rate at the next pillar. Log-linear curves store ln P(0) = 0 there,
        // whose limit is the rate of the first positive pillar; a monotone convex
        // curve's limit is its forward at 0.
        if (!on_log_discounts() && times_[0] == 0.0) return values_[0];
        if (interp_ == Interp::MonotoneConvex && times_[0] == 0.0) return convex_->first_value();
        t = times_[0] > 0.0 ? times_[0] : times_[1];
        date = nullptr;
    }
    QUELM_TRY(p, discount_at(t, date));
    return -quelm::log(p) / t;
}

Result<double> YieldCurve::zero_rate(double t) const { return zero_rate_at(t, nullptr); }

Result<double> YieldCurve::forward_rate(double t1, double t2) const {
    if (t1 < 0.0) return invalid("yield curve: t1 must be >= 0");
    if (t1 >= t2) return invalid("yield curve: require t2 > t1");
    QUELM_TRY(p1, discount(t1));
    QUELM_TRY(p2, discount(t2));
    return (quelm::log(p1) - quelm::log(p2)) / (t2 - t1);
}

Result<double> YieldCurve::time_for(dates::Serial d) const {
    if (!dating_.reference)
        return invalid("yield curve: a date needs a curve with a reference date (build it with reference_date=...)");
    const dates::Serial ref = *dating_.reference;
    if (d < ref)
        return invalid("yield curve: " + dates::format_iso(d) + " is before the reference date " +
                       dates::format_iso(ref));
    return dates::year_fraction(ref, d, dating_.day_count);
}

Result<double> YieldCurve::time_of(dates::Serial d) const { return time_for(d); }

Result<double> YieldCurve::discount_on(dates::Serial d) const {
    QUELM_TRY(t, time_for(d));
    return discount_at(t, &d);
}

Result<double> YieldCurve::zero_rate_on(dates::Serial d) const {
    QUELM_TRY(t, time_for(d));
    return zero_rate_at(t, &d);
}

Result<double> YieldCurve::forward_rate_between(dates::Serial d1, dates::Serial d2) const {
    QUELM_TRY(t1, time_for(d1));
    QUELM_TRY(t2, time_for(d2));
    if (t1 >= t2)
        return invalid("yield curve: require a later second date (" + dates::format_iso(d2) + " is not after " +
                       dates::format_iso(d1) + ")");
    QUELM_TRY(p1, discount_at(t1, &d1));
    QUELM_TRY(p2, discount_at(t2, &d2));
    return (quelm::log(p1) - quelm::log(p2)) / (t2 - t1);
}

bool operator==(const YieldCurve& a, const YieldCurve& b) {
    if (a.flat_ != b.flat_ || !(a.dating_ == b.dating_) || (a.state_ == nullptr) != (b.state_ == nullptr))
        return false;
    if (a.flat_) return a.rate_ == b.rate_;
    return a.interp_ == b.interp_ && a.extrapolate_ == b.extrapolate_ && a.times_ == b.times_ &&
           a.values_ == b.values_;
}

}  // namespace quelm::curves

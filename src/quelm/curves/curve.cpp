#include "quelm/curves/curve.hpp"

#include <cmath>
#include <utility>

#include "quelm/core/math/elementary.hpp"

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

Result<YieldCurve> YieldCurve::flat(double rate) {
    if (!std::isfinite(rate)) return invalid("yield curve: rate must be finite");
    YieldCurve c;
    c.rate_ = rate;
    return c;
}

Result<YieldCurve> YieldCurve::pillars(std::span<const double> times, std::vector<double> values, Interp interp) {
    YieldCurve c;
    c.flat_ = false;
    c.times_.assign(times.begin(), times.end());
    c.values_ = std::move(values);
    c.interp_ = interp;
    if (interp == Interp::NaturalCubic) {
        QUELM_TRY(spline, NaturalCubicSpline::create(c.times_, c.values_));
        c.spline_.emplace(std::move(spline));
    }
    return c;
}

Result<YieldCurve> YieldCurve::from_zero_rates(std::span<const double> times, std::span<const double> rates,
                                               Interp interp) {
    QUELM_CHECK(validate_times(times, rates.size()));
    if (!all_finite(rates)) return invalid("yield curve: zero rates must be finite");
    std::vector<double> values(rates.begin(), rates.end());
    if (interp == Interp::LogLinear) {
        for (std::size_t i = 0; i < values.size(); ++i) values[i] = -rates[i] * times[i];
    }
    return pillars(times, std::move(values), interp);
}

Result<YieldCurve> YieldCurve::from_discount_factors(std::span<const double> times, std::span<const double> dfs,
                                                     Interp interp) {
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
    return pillars(times, std::move(values), interp);
}

Result<YieldCurve> YieldCurve::from_log_discounts(std::span<const double> times, std::span<const double> log_dfs) {
    QUELM_CHECK(validate_times(times, log_dfs.size()));
    if (!all_finite(log_dfs)) return invalid("yield curve: log discount factors must be finite");
    return pillars(times, std::vector<double>(log_dfs.begin(), log_dfs.end()), Interp::LogLinear);
}

Result<double> YieldCurve::discount(double t) const {
    if (t < 0.0) return invalid("yield curve: t must be >= 0");
    if (t == 0.0) return 1.0;
    if (flat_) return quelm::exp(-rate_ * t);
    switch (interp_) {
        case Interp::LogLinear: {
            QUELM_TRY(y, linear_on_valid_nodes(times_, values_, t));
            return quelm::exp(y);
        }
        case Interp::NaturalCubic: {
            QUELM_TRY(z, spline_->eval(t));
            return quelm::exp(-z * t);
        }
        case Interp::Linear: break;
    }
    QUELM_TRY(z, linear_on_valid_nodes(times_, values_, t));
    return quelm::exp(-z * t);
}

Result<double> YieldCurve::zero_rate(double t) const {
    if (t < 0.0) return invalid("yield curve: t must be >= 0");
    if (t == 0.0) {
        if (flat_) return rate_;
        // A zero-rate pillar at 0 is the limit of z(t) as t -> 0: answer it, not
        // the rate at the next pillar. Log-linear curves store ln P(0) = 0 there,
        // whose limit is the rate of the first positive pillar.
        if (interp_ != Interp::LogLinear && times_[0] == 0.0) return values_[0];
        t = times_[0] > 0.0 ? times_[0] : times_[1];
    }
    QUELM_TRY(p, discount(t));
    return -quelm::log(p) / t;
}

Result<double> YieldCurve::forward_rate(double t1, double t2) const {
    if (t1 < 0.0) return invalid("yield curve: t1 must be >= 0");
    if (t1 >= t2) return invalid("yield curve: require t2 > t1");
    QUELM_TRY(p1, discount(t1));
    QUELM_TRY(p2, discount(t2));
    return (quelm::log(p1) - quelm::log(p2)) / (t2 - t1);
}

bool operator==(const YieldCurve& a, const YieldCurve& b) {
    if (a.flat_ != b.flat_) return false;
    if (a.flat_) return a.rate_ == b.rate_;
    return a.interp_ == b.interp_ && a.times_ == b.times_ && a.values_ == b.values_;
}

}  // namespace quelm::curves

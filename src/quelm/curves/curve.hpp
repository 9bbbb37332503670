// Yield curve: a term structure of continuously compounded rates, flat or
// interpolated between pillars (times in years). Answers discount factors,
// zero rates and forward rates at times, or at dates when the curve has a reference
// date (times then come from its day count). Beyond the pillars it extrapolates only
// when built to (flat forward); otherwise a time outside them is an error naming it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "quelm/core/error.hpp"
#include "quelm/core/math/interpolate.hpp"
#include "quelm/core/math/monotone_convex.hpp"
#include "quelm/curves/curve_options.hpp"
#include "quelm/dates/day_count.hpp"

namespace quelm::curves {

// Pillar check shared by every pillar constructor: n_values values, at least
// two finite pillars, the first >= 0, strictly increasing.
[[nodiscard]] Status validate_times(std::span<const double> times, std::size_t n_values);

// How a curve turns dates into times: year fractions from its reference date (none: the
// curve answers times only).
struct Dating {
    std::optional<dates::Serial> reference;
    dates::DayCount day_count{};  // act/365f
    friend bool operator==(const Dating&, const Dating&) = default;
};

// What a bootstrap leaves on its curve for risk: inputs and the Jacobian (bootstrap.hpp).
struct BootstrapState;

class YieldCurve {
public:
    [[nodiscard]] static Result<YieldCurve> flat(double rate, const Dating& dating = {});
    [[nodiscard]] static Result<YieldCurve> from_zero_rates(std::span<const double> times,
                                                            std::span<const double> rates, Interp interp,
                                                            Extrapolation extrapolate = Extrapolation::None,
                                                            const Dating& dating = {});
    [[nodiscard]] static Result<YieldCurve> from_discount_factors(std::span<const double> times,
                                                                  std::span<const double> dfs, Interp interp,
                                                                  Extrapolation extrapolate = Extrapolation::None,
                                                                  const Dating& dating = {});
    // A log-linear curve from its stored log discount factors, so that a curve
    // can be rebuilt bit for bit (the round trip through zero rates is inexact).
    [[nodiscard]] static Result<YieldCurve> from_log_discounts(std::span<const double> times,
                                                               std::span<const double> log_dfs,
                                                               Extrapolation extrapolate = Extrapolation::None,
                                                               const Dating& dating = {});
    // A curve on its canonical node values (zero rates for Linear and NaturalCubic, log
    // discount factors otherwise), any of the five interpolations: what a bootstrap builds.
    [[nodiscard]] static Result<YieldCurve> from_nodes(std::span<const double> times, std::vector<double> values,
                                                       Interp interp, Extrapolation extrapolate, const Dating& dating);

    [[nodiscard]] Result<double> discount(double t) const;
    [[nodiscard]] Result<double> zero_rate(double t) const;
    [[nodiscard]] Result<double> forward_rate(double t1, double t2) const;
    // ln P(t), with discount's checks and messages.
    [[nodiscard]] Result<double> log_discount(double t) const;

    // The time of a date (its year fraction from the reference date), and the queries at dates.
    [[nodiscard]] Result<double> time_of(dates::Serial d) const;
    [[nodiscard]] Result<double> discount_on(dates::Serial d) const;
    [[nodiscard]] Result<double> zero_rate_on(dates::Serial d) const;
    [[nodiscard]] Result<double> forward_rate_between(dates::Serial d1, dates::Serial d2) const;

    [[nodiscard]] bool is_flat() const { return flat_; }
    [[nodiscard]] double rate() const { return rate_; }
    // Pillar data: zero rates (linear, natural cubic) or log discount factors (the others).
    [[nodiscard]] std::span<const double> times() const { return times_; }
    [[nodiscard]] std::span<const double> values() const { return values_; }
    [[nodiscard]] Interp interp() const { return interp_; }
    [[nodiscard]] Extrapolation extrapolation() const { return extrapolate_; }
    [[nodiscard]] const Dating& dating() const { return dating_; }
    [[nodiscard]] const NaturalCubicSpline* spline() const { return spline_ ? &*spline_ : nullptr; }
    [[nodiscard]] const MonotoneConvex* convex() const { return convex_ ? &*convex_ : nullptr; }
    // The instantaneous forward at the last pillar (what flat-forward extrapolation continues).
    [[nodiscard]] double end_forward() const { return end_forward_; }
    // Whether the stored values are log discount factors (else zero rates).
    [[nodiscard]] bool on_log_discounts() const {
        return interp_ != Interp::Linear && interp_ != Interp::NaturalCubic;
    }

    // The bootstrap's inputs and Jacobian, for curves built from instruments.
    [[nodiscard]] const std::shared_ptr<const BootstrapState>& bootstrap_state() const { return state_; }
    [[nodiscard]] YieldCurve with_state(std::shared_ptr<const BootstrapState> state) const;

    // Which making of a curve this is: copies share it (a curve never changes once made),
    // no other curve has it. A trade keys the memo of its last reading of a curve on it.
    [[nodiscard]] std::uint64_t stamp() const { return stamp_; }

    friend bool operator==(const YieldCurve& a, const YieldCurve& b);

private:
    YieldCurve();
    [[nodiscard]] static Result<YieldCurve> pillars(std::span<const double> times, std::vector<double> values,
                                                    Interp interp, Extrapolation extrapolate, const Dating& dating);
    // ln P(t) at a time outside [first pillar, last pillar]: extrapolated, or the error
    // naming the time (and the date it came from, when given).
    [[nodiscard]] Result<double> outside(double t, const dates::Serial* date) const;
    [[nodiscard]] Result<double> log_discount_at(double t, const dates::Serial* date) const;
    [[nodiscard]] Result<double> discount_at(double t, const dates::Serial* date) const;
    [[nodiscard]] Result<double> zero_rate_at(double t, const dates::Serial* date) const;
    [[nodiscard]] Result<double> time_for(dates::Serial d) const;

    bool flat_ = true;
    double rate_ = 0.0;
    std::vector<double> times_, values_;
    Interp interp_ = Interp::Linear;
    Extrapolation extrapolate_ = Extrapolation::None;
    Dating dating_;
    std::optional<NaturalCubicSpline> spline_;  // present exactly for NaturalCubic
    std::optional<MonotoneConvex> convex_;      // present exactly for MonotoneConvex
    double end_forward_ = 0.0;
    std::shared_ptr<const BootstrapState> state_;
    std::uint64_t stamp_ = 0;
};

}  // namespace quelm::curves

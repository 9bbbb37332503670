// Yield curve: a term structure of continuously compounded rates, flat or
// interpolated between pillars (times in years). Answers discount factors,
// zero rates and forward rates; never extrapolates beyond its pillars.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "quelm/core/error.hpp"
#include "quelm/core/math/interpolate.hpp"

namespace quelm::curves {

// Pillar check shared by every pillar constructor: n_values values, at least
// two finite pillars, the first >= 0, strictly increasing.
[[nodiscard]] Status validate_times(std::span<const double> times, std::size_t n_values);

class YieldCurve {
public:
    [[nodiscard]] static Result<YieldCurve> flat(double rate);
    [[nodiscard]] static Result<YieldCurve> from_zero_rates(std::span<const double> times,
                                                            std::span<const double> rates, Interp interp);
    [[nodiscard]] static Result<YieldCurve> from_discount_factors(std::span<const double> times,
                                                                  std::span<const double> dfs, Interp interp);
    // A log-linear curve from its stored log discount factors, so that a curve
    // can be rebuilt bit for bit (the round trip through zero rates is inexact).
    [[nodiscard]] static Result<YieldCurve> from_log_discounts(std::span<const double> times,
                                                               std::span<const double> log_dfs);

    [[nodiscard]] Result<double> discount(double t) const;
    [[nodiscard]] Result<double> zero_rate(double t) const;
    [[nodiscard]] Result<double> forward_rate(double t1, double t2) const;

    [[nodiscard]] bool is_flat() const { return flat_; }
    [[nodiscard]] double rate() const { return rate_; }
    // Pillar data: zero rates (linear, natural cubic) or log discount factors (log-linear).
    [[nodiscard]] std::span<const double> times() const { return times_; }
    [[nodiscard]] std::span<const double> values() const { return values_; }
    [[nodiscard]] Interp interp() const { return interp_; }

    friend bool operator==(const YieldCurve& a, const YieldCurve& b);

private:
    YieldCurve() = default;
    [[nodiscard]] static Result<YieldCurve> pillars(std::span<const double> times, std::vector<double> values,
                                                    Interp interp);

    bool flat_ = true;
    double rate_ = 0.0;
    std::vector<double> times_, values_;
    Interp interp_ = Interp::Linear;
    std::optional<NaturalCubicSpline> spline_;  // present exactly for NaturalCubic
};

}  // namespace quelm::curves

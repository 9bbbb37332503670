// The gradient of a pillar curve's log discount factor ln P(t) in its stored node values
// (zero rates or log discount factors, as YieldCurve::values holds them), inside the
// pillars and where the curve extrapolates: what Jacobians and bucketed risk chain through.
#pragma once

#include <optional>
#include <span>

#include "quelm/core/error.hpp"
#include "quelm/core/math/interpolate.hpp"
#include "quelm/curves/curve.hpp"

namespace quelm::curves {

class CurveGradient {
public:
    // A flat curve has no nodes (size 0): every gradient is empty.
    [[nodiscard]] static Result<CurveGradient> create(const YieldCurve& curve);

    [[nodiscard]] std::size_t size() const { return curve_->values().size(); }
    // grad[j] += weight · ∂ln P(t)/∂values[j]; fails where discount(t) fails.
    [[nodiscard]] Status add(double t, double weight, std::span<double> grad) const;

private:
    explicit CurveGradient(const YieldCurve& c) : curve_(&c) {}
    // grad += weight · ∂(instantaneous forward at the last pillar)/∂values.
    void add_end_forward(double weight, std::span<double> grad) const;
    const YieldCurve* curve_;
    std::optional<SplineWeights> spline_;
};

}  // namespace quelm::curves

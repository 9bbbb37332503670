// One-dimensional interpolation on strictly increasing nodes: piecewise linear
// and the natural cubic spline (with its weights, for gradients in the node values).
// Neither extrapolates. Also the parse of the interpolation-mode names used by the
// yield curve.
#pragma once

#include "quelm/core/choice.hpp"
#include "quelm/core/error.hpp"

#include <cstddef>
#include <span>
#include <string_view>
#include <vector>

namespace quelm {

// Linear, NaturalCubic: on zero rates; LogLinear, FlatForward: on log discount factors
// (the same curve: a constant instantaneous forward between pillars); MonotoneConvex:
// Hagan-West on the forwards. The constructors from rates and discount factors take the
// first three; a bootstrap takes all five.
enum class Interp { Linear, LogLinear, NaturalCubic, MonotoneConvex, FlatForward };

// Equal lengths, at least two nodes, xs strictly increasing.
[[nodiscard]] Status validate_nodes(std::span<const double> xs, std::span<const double> ys);

// Index of the segment [xs[i], xs[i+1]] holding x, on nodes already validated.
[[nodiscard]] Result<std::size_t> find_segment(std::span<const double> xs, double x);

// Validates the nodes, then interpolates linearly.
[[nodiscard]] Result<double> linear_interpolate(std::span<const double> xs, std::span<const double> ys, double x);

// Linear interpolation on nodes the caller has validated once already.
[[nodiscard]] Result<double> linear_on_valid_nodes(std::span<const double> xs, std::span<const double> ys,
                                                   double x);

class NaturalCubicSpline {
public:
    // Copies both sequences; second derivatives vanish at both ends.
    [[nodiscard]] static Result<NaturalCubicSpline> create(std::span<const double> xs, std::span<const double> ys);

    [[nodiscard]] Result<double> eval(double x) const;
    // s'(x) at the last node.
    [[nodiscard]] double end_slope() const;

    [[nodiscard]] std::span<const double> xs() const { return xs_; }
    [[nodiscard]] std::span<const double> ys() const { return ys_; }
    [[nodiscard]] std::span<const double> second_derivatives() const { return m_; }

    // Per segment, the parts of the cubic that do not depend on x, computed exactly as the
    // formula would at each call: lookups at many points skip three divisions each. On
    // segment i, s(x) = (m_i b^3 + m_(i+1) a^3) / six_h + left b + right a, with
    // a = x - x_i and b = x_(i+1) - x, in that order of operations.
    struct Segment {
        double six_h;  // 6 h
        double left;   // y_i / h - m_i h / 6
        double right;  // y_(i+1) / h - m_(i+1) h / 6
    };
    [[nodiscard]] std::span<const Segment> segments() const { return segments_; }

private:
    NaturalCubicSpline() = default;
    std::vector<double> xs_, ys_, m_;
    std::vector<Segment> segments_;
};

// The natural cubic spline is linear in its values: s(x) = Σ_j w_j(x) y_j, the weights
// depending on the nodes only. For gradients of a spline in its values: O(n) memory, and
// O(n) work for each point (one sweep of the tridiagonal system's adjoint).
class SplineWeights {
public:
    [[nodiscard]] static Result<SplineWeights> create(std::span<const double> xs);
    // out[j] += scale · ∂s(x)/∂y_j, for x in [xs[0], xs[n-1]].
    void add(double x, double scale, std::span<double> out) const;
    // out[j] += Σ_p scales[p] · ∂s(points[p])/∂y_j, in one sweep whatever the points' count.
    void add_many(std::span<const double> points, std::span<const double> scales, std::span<double> out) const;
    // out[j] += scale · ∂s'(xs[n-1])/∂y_j: the slope at the last node.
    void add_end_slope(double scale, std::span<double> out) const;

private:
    SplineWeights() = default;
    // out += ci ∂m_i/∂y + cj ∂m_(i+1)/∂y (m: the second derivatives at the nodes).
    void add_second_derivatives(std::size_t i, double ci, double cj, std::span<double> out) const;
    // out += Rᵀ T⁻¹ z (z: one entry per interior node, consumed).
    void add_adjoint(std::vector<double>& z, std::size_t first, std::span<double> out) const;
    [[nodiscard]] std::size_t segment(double x) const;
    std::vector<double> xs_, h_;
    std::vector<double> den_, c_;  // Thomas factors of the interior system (n - 2 rows)
};

// "linear"; "log-linear" | "log_linear" | "loglinear"; "natural-cubic" |
// "natural_cubic" | "naturalcubic" | "cubic" (ASCII case-insensitive).
inline constexpr Choices<Interp, 8> kInterps{
    "interp", Listing::Quoted,
    {{{"linear", Interp::Linear}, {"log-linear", Interp::LogLinear}, {"log_linear", Interp::LogLinear},
      {"loglinear", Interp::LogLinear}, {"natural-cubic", Interp::NaturalCubic},
      {"natural_cubic", Interp::NaturalCubic}, {"naturalcubic", Interp::NaturalCubic},
      {"cubic", Interp::NaturalCubic}}}};

// The canonical name of a mode ("linear", "log-linear", "natural-cubic").
[[nodiscard]] const char* interp_name(Interp mode);

}  // namespace quelm

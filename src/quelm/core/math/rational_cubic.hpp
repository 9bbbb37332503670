// Shape-preserving rational cubic interpolation (Delbourgo and Gregory, 1985) on one
// interval [x_l, x_r] with values y and slopes d at both ends and a control parameter r
// (r = 3 is the Hermite cubic, r -> infinity the straight line), and the choices of r
// that match a second derivative at one end (P. Jaeckel, "Let's be rational").
#pragma once

#include <algorithm>
#include <cmath>

namespace quelm {

inline constexpr double kRationalCubicMinR = -(1.0 - 1.4901161193847656e-08);  // -(1 - sqrt(eps))
inline constexpr double kRationalCubicMaxR = 2.0 / (2.220446049250313e-16 * 2.220446049250313e-16);

[[nodiscard]] inline double rational_cubic(double x, double x_l, double x_r, double y_l, double y_r, double d_l,
                                           double d_r, double r) {
    const double h = x_r - x_l;
    if (!(std::fabs(h) > 0.0)) return (y_l + y_r) / 2.0;
    const double t = (x - x_l) / h;
    const double u = 1.0 - t;
    if (r >= kRationalCubicMaxR) return y_r * t + y_l * u;
    const double t2 = t * t;
    const double u2 = u * u;
    return (y_r * t2 * t + (r * y_r - h * d_r) * t2 * u + (r * y_l + h * d_l) * t * u2 + y_l * u2 * u) /
           (1.0 + (r - 3.0) * t * u);
}

// The least r that keeps the interpolant monotone and convex (or concave) where the data are.
[[nodiscard]] inline double rational_cubic_min_r(double d_l, double d_r, double slope, bool prefer_shape) {
    const bool monotonic = d_l * slope >= 0.0 && d_r * slope >= 0.0;
    const bool convex = d_l <= slope && slope <= d_r;
    const bool concave = d_l >= slope && slope >= d_r;
    if (!monotonic && !convex && !concave) return kRationalCubicMinR;
    double r1 = -1e308;
    double r2 = -1e308;
    if (monotonic) {
        if (slope != 0.0) r1 = (d_r + d_l) / slope;
        else if (prefer_shape) r1 = kRationalCubicMaxR;
    }
    if (convex || concave) {
        const double right = d_r - slope;
        const double left = slope - d_l;
        if (right != 0.0 && left != 0.0) r2 = std::max(std::fabs((d_r - d_l) / right), std::fabs((d_r - d_l) / left));
        else if (prefer_shape) r2 = kRationalCubicMaxR;
    } else if (monotonic && prefer_shape) {
        r2 = kRationalCubicMaxR;
    }
    return std::max(kRationalCubicMinR, std::max(r1, r2));
}

// r such that the interpolant's second derivative at x_l (or x_r) is `second`.
[[nodiscard]] inline double rational_cubic_r_for_left(double x_l, double x_r, double y_l, double y_r, double d_l,
                                                      double d_r, double second, bool prefer_shape) {
    const double h = x_r - x_l;
    const double numerator = 0.5 * h * second + (d_r - d_l);
    if (numerator == 0.0) return 0.0;
    const double denominator = (y_r - y_l) / h - d_l;
    if (denominator == 0.0) return numerator > 0.0 ? kRationalCubicMaxR : kRationalCubicMinR;
    const double r = numerator / denominator;
    return prefer_shape ? std::max(r, rational_cubic_min_r(d_l, d_r, (y_r - y_l) / h, true)) : r;
}

[[nodiscard]] inline double rational_cubic_r_for_right(double x_l, double x_r, double y_l, double y_r, double d_l,
                                                       double d_r, double second, bool prefer_shape) {
    const double h = x_r - x_l;
    const double numerator = 0.5 * h * second + (d_r - d_l);
    if (numerator == 0.0) return 0.0;
    const double denominator = d_r - (y_r - y_l) / h;
    if (denominator == 0.0) return numerator > 0.0 ? kRationalCubicMaxR : kRationalCubicMinR;
    const double r = numerator / denominator;
    return prefer_shape ? std::max(r, rational_cubic_min_r(d_l, d_r, (y_r - y_l) / h, true)) : r;
}

}  // namespace quelm

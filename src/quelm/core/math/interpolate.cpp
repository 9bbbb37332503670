#include "quelm/core/math/interpolate.hpp"

#include <algorithm>
#include <cmath>
#include <string>

namespace quelm {

Status validate_nodes(std::span<const double> xs, std::span<const double> ys) {
    if (xs.size() != ys.size()) return invalid("interpolate: xs and ys must have equal length");
    if (xs.size() < 2) return invalid("interpolate: need at least two nodes");
    for (std::size_t i = 0; i + 1 < xs.size(); ++i) {
        if (xs[i] >= xs[i + 1]) return invalid("interpolate: xs must be strictly increasing");
    }
    return {};
}

Result<std::size_t> find_segment(std::span<const double> xs, double x) {
    const std::size_t n = xs.size();
    if (x < xs[0] || x > xs[n - 1]) return invalid("interpolate: x is outside the node range (no extrapolation)");
    // k = number of nodes with xs[j] <= x; a NaN x counts none and lands in segment 0. The
    // count lies in [lo, lo + len]; halving len by a select instead of a branch keeps a
    // lookup over random times free of mispredicted jumps.
    std::size_t lo = 0, len = n;
    while (len > 1) {
        const std::size_t half = len / 2;
        lo += xs[lo + half] <= x ? half : 0;
        len -= half;
    }
    const std::size_t k = lo + (xs[lo] <= x ? 1 : 0);
    std::size_t i = k > 0 ? k - 1 : 0;
    if (i > n - 2) i = n - 2;
    return i;
}

Result<double> linear_on_valid_nodes(std::span<const double> xs, std::span<const double> ys, double x) {
    QUELM_TRY(i, find_segment(xs, x));
    return ys[i] + (ys[i + 1] - ys[i]) * (x - xs[i]) / (xs[i + 1] - xs[i]);
}

Result<double> linear_interpolate(std::span<const double> xs, std::span<const double> ys, double x) {
    QUELM_CHECK(validate_nodes(xs, ys));
    return linear_on_valid_nodes(xs, ys, x);
}

namespace {

bool tiny_pivot(double p) { return !(std::fabs(p) >= 1e-300); }  // NaN counts as tiny

}  // namespace

Result<NaturalCubicSpline> NaturalCubicSpline::create(std::span<const double> xs, std::span<const double> ys) {
    QUELM_CHECK(validate_nodes(xs, ys));
    const std::size_t n = xs.size();
    NaturalCubicSpline s;
    s.xs_.assign(xs.begin(), xs.end());
    s.ys_.assign(ys.begin(), ys.end());
    s.m_.assign(n, 0.0);
    if (n >= 3) {
        const std::size_t k = n - 2;
        std::vector<double> h(n - 1), c(k), d(k);
        for (std::size_t i = 0; i + 1 < n; ++i) h[i] = xs[i + 1] - xs[i];
        // Row r: sub h[r], diag 2(h[r]+h[r+1]), sup h[r+1]; Thomas sweep without pivoting.
        auto diag = [&](std::size_t r) { return 2.0 * (h[r] + h[r + 1]); };
        auto rhs = [&](std::size_t r) {
            return 6.0 * ((ys[r + 2] - ys[r + 1]) / h[r + 1] - (ys[r + 1] - ys[r]) / h[r]);
        };
        const double d0 = diag(0);
        if (tiny_pivot(d0)) return numerical("interpolate: singular spline system");
        c[0] = h[1] / d0;
        d[0] = rhs(0) / d0;
        for (std::size_t r = 1; r < k; ++r) {
            const double den = diag(r) - c[r - 1] * h[r];
            if (tiny_pivot(den)) return numerical("interpolate: singular spline system");
            c[r] = h[r + 1] / den;
            d[r] = (rhs(r) - h[r] * d[r - 1]) / den;
        }
        std::vector<double> x(k);
        x[k - 1] = d[k - 1];
        for (std::size_t r = k - 1; r-- > 0;) x[r] = d[r] - c[r] * x[r + 1];
        for (std::size_t r = 0; r < k; ++r) s.m_[r + 1] = x[r];
    }
    s.segments_.resize(n - 1);
    for (std::size_t i = 0; i + 1 < n; ++i) {
        const double h = s.xs_[i + 1] - s.xs_[i];
        s.segments_[i] = {6.0 * h, s.ys_[i] / h - s.m_[i] * h / 6.0, s.ys_[i + 1] / h - s.m_[i + 1] * h / 6.0};
    }
    return s;
}

Result<double> NaturalCubicSpline::eval(double x) const {
    QUELM_TRY(i, find_segment(xs_, x));
    const Segment& g = segments_[i];
    const double a = x - xs_[i];
    const double b = xs_[i + 1] - x;
    return (m_[i] * b * b * b + m_[i + 1] * a * a * a) / g.six_h + g.left * b + g.right * a;
}

double NaturalCubicSpline::end_slope() const {
    // At the last node (a = h, b = 0): s' = m_n h / 2 - left + right.
    const std::size_t i = xs_.size() - 2;
    const double h = xs_[i + 1] - xs_[i];
    return m_[i + 1] * h / 2.0 - segments_[i].left + segments_[i].right;
}

Result<SplineWeights> SplineWeights::create(std::span<const double> xs) {
    const std::size_t n = xs.size();
    if (n < 2) return invalid("interpolate: need at least two nodes");
    for (std::size_t i = 0; i + 1 < n; ++i) {
        if (xs[i] >= xs[i + 1]) return invalid("interpolate: xs must be strictly increasing");
    }
    SplineWeights w;
    w.xs_.assign(xs.begin(), xs.end());
    w.h_.resize(n - 1);
    for (std::size_t i = 0; i + 1 < n; ++i) w.h_[i] = xs[i + 1] - xs[i];
    if (n < 3) return w;
    // The interior second derivatives solve T m = R y (T tridiagonal, as in create): the
    // Thomas factors of T, kept for the sweeps of add.
    const std::size_t k = n - 2;
    const std::vector<double>& h = w.h_;
    w.den_.resize(k);
    w.c_.resize(k);
    w.den_[0] = 2.0 * (h[0] + h[1]);
    w.c_[0] = h[1] / w.den_[0];
    for (std::size_t r = 1; r < k; ++r) {
        w.den_[r] = 2.0 * (h[r] + h[r + 1]) - w.c_[r - 1] * h[r];
        if (tiny_pivot(w.den_[r])) return numerical("interpolate: singular spline system");
        w.c_[r] = h[r + 1] / w.den_[r];
    }
    return w;
}

void SplineWeights::add_adjoint(std::vector<double>& z, std::size_t first, std::span<double> out) const {
    // T is symmetric: Rᵀ T⁻¹ z is one sweep of the system's own factors, then Rᵀ.
    const std::size_t k = den_.size();
    const std::vector<double>& h = h_;
    z[first] /= den_[first];
    for (std::size_t r = first + 1; r < k; ++r) z[r] = (z[r] - h[r] * z[r - 1]) / den_[r];
    for (std::size_t r = k - 1; r-- > 0;) z[r] -= c_[r] * z[r + 1];
    // Row r of R: 6 (y[r+2] - y[r+1]) / h[r+1] - 6 (y[r+1] - y[r]) / h[r].
    for (std::size_t r = 0; r < k; ++r) {
        const double a = 6.0 * z[r] / h[r], b = 6.0 * z[r] / h[r + 1];
        out[r] += a;
        out[r + 1] -= a + b;
        out[r + 2] += b;
    }
}

void SplineWeights::add_second_derivatives(std::size_t i, double ci, double cj, std::span<double> out) const {
    // out += (ci e_i + cj e_(i+1))ᵀ ∂m/∂y: O(n), instead of a stored n × n matrix.
    const std::size_t k = den_.size();
    if (k == 0) return;
    std::vector<double> z(k, 0.0);
    if (i >= 1 && i - 1 < k) z[i - 1] = ci;
    if (i < k) z[i] += cj;
    add_adjoint(z, i >= 1 ? i - 1 : 0, out);  // z is zero before that row, and stays so forward
}

std::size_t SplineWeights::segment(double x) const {
    // The last i + 2 < n with xs[i + 1] <= x, or 0.
    const std::size_t n = xs_.size();
    if (n <= 2 || x < xs_[1]) return 0;
    return static_cast<std::size_t>(std::upper_bound(xs_.begin() + 1, xs_.end() - 1, x) - xs_.begin()) - 1;
}

void SplineWeights::add(double x, double scale, std::span<double> out) const {
    const std::size_t i = segment(x);
    const double h = xs_[i + 1] - xs_[i];
    const double a = x - xs_[i], b = xs_[i + 1] - x;
    // s = y_i b/h + y_(i+1) a/h + m_i (b^3/h - b h)/6 + m_(i+1) (a^3/h - a h)/6
    out[i] += scale * b / h;
    out[i + 1] += scale * a / h;
    const double ci = scale * (b * b * b / h - b * h) / 6.0;
    const double cj = scale * (a * a * a / h - a * h) / 6.0;
    add_second_derivatives(i, ci, cj, out);
}

void SplineWeights::add_many(std::span<const double> points, std::span<const double> scales,
                             std::span<double> out) const {
    const std::size_t k = den_.size();
    std::vector<double> z(k, 0.0);
    for (std::size_t p = 0; p < points.size(); ++p) {
        const double scale = scales[p];
        if (scale == 0.0) continue;
        const double x = points[p];
        const std::size_t i = segment(x);
        const double h = xs_[i + 1] - xs_[i];
        const double a = x - xs_[i], b = xs_[i + 1] - x;
        out[i] += scale * b / h;
        out[i + 1] += scale * a / h;
        if (i >= 1 && i - 1 < k) z[i - 1] += scale * (b * b * b / h - b * h) / 6.0;
        if (i < k) z[i] += scale * (a * a * a / h - a * h) / 6.0;
    }
    if (k > 0) add_adjoint(z, 0, out);
}

void SplineWeights::add_end_slope(double scale, std::span<double> out) const {
    // s'(x_n) = (y_n - y_(n-1)) / h + m_(n-1) h / 6 (m_n = 0).
    const std::size_t n = xs_.size();
    const double h = xs_[n - 1] - xs_[n - 2];
    out[n - 1] += scale / h;
    out[n - 2] -= scale / h;
    add_second_derivatives(n - 2, scale * h / 6.0, 0.0, out);
}

const char* interp_name(Interp mode) {
    switch (mode) {
        case Interp::Linear: return "linear";
        case Interp::LogLinear: return "log-linear";
        case Interp::NaturalCubic: return "natural-cubic";
        case Interp::MonotoneConvex: return "monotone-convex";
        case Interp::FlatForward: return "flat-forward";
    }
    return "linear";
}

}  // namespace quelm

#include "quelm/curves/curve_gradient.hpp"

namespace quelm::curves {

Result<CurveGradient> CurveGradient::create(const YieldCurve& curve) {
    CurveGradient g(curve);
    if (!curve.is_flat() && curve.interp() == Interp::NaturalCubic) {
        QUELM_TRY(w, SplineWeights::create(curve.times()));
        g.spline_.emplace(std::move(w));
    }
    return g;
}

void CurveGradient::add_end_forward(double weight, std::span<double> grad) const {
    const auto t = curve_->times();
    const std::size_t n = t.size() - 1;
    const double h = t[n] - t[n - 1];
    switch (curve_->interp()) {
        case Interp::LogLinear:
        case Interp::FlatForward:  // f = -(y_n - y_(n-1)) / h
            grad[n] -= weight / h;
            grad[n - 1] += weight / h;
            break;
        case Interp::Linear:  // f = z_n + (z_n - z_(n-1)) t_n / h
            grad[n] += weight * (1.0 + t[n] / h);
            grad[n - 1] -= weight * t[n] / h;
            break;
        case Interp::NaturalCubic:  // f = z_n + z'(t_n) t_n
            grad[n] += weight;
            spline_->add_end_slope(weight * t[n], grad);
            break;
        case Interp::MonotoneConvex:  // f(t_n) of the integrals I = -y
            curve_->convex()->add_last_value_gradient(-weight, grad);
            break;
    }
}

Status CurveGradient::add(double t, double weight, std::span<double> grad) const {
    const YieldCurve& c = *curve_;
    if (t == 0.0 || c.is_flat() || t != t) {
        QUELM_CHECK(c.log_discount(t));
        return {};
    }
    const auto times = c.times();
    const std::size_t n = times.size() - 1;
    if (!(t >= times.front() && t <= times.back())) {
        QUELM_CHECK(c.log_discount(t));  // the checks and the error of a time the curve does not answer
        if (t < times.front()) {
            // ln P = -z_0 t, z_0 = -y_0 / t_0 or the stored zero rate
            grad[0] += c.on_log_discounts() ? weight * t / times.front() : -weight * t;
            return {};
        }
        // ln P(t_n) - f_n (t - t_n)
        QUELM_CHECK(add(times[n], weight, grad));
        add_end_forward(-weight * (t - times[n]), grad);
        return {};
    }
    if (c.interp() == Interp::MonotoneConvex) {
        c.convex()->add_integral_gradient(t, weight, grad);  // ln P = -I(t), I_j = -y_j
        return {};
    }
    if (c.interp() == Interp::NaturalCubic) {
        spline_->add(t, -weight * t, grad);
        return {};
    }
    QUELM_TRY(i, find_segment(times, t));
    const double w = (t - times[i]) / (times[i + 1] - times[i]);
    const double scale = c.on_log_discounts() ? weight : -weight * t;
    grad[i] += scale * (1.0 - w);
    grad[i + 1] += scale * w;
    return {};
}

}  // namespace quelm::curves

#include "quelm/core/math/monotone_convex.hpp"

#include <algorithm>
#include <cmath>

#include "quelm/core/math/dual.hpp"

namespace quelm {

namespace {

// ∫_0^x g for x in [0, 1], where g is the interval's departure from its mean with
// g(0) = g0 and g(1) = g1, in the sector the paper assigns to (g0, g1). T is double, or a
// dual number for the derivatives in g0 and g1.
template <class T>
T departure_integral(double x, const T& g0, const T& g1) {
    const double a = value_of(g0), b = value_of(g1);
    if (x <= 0.0 || (a == 0.0 && b == 0.0)) return T(0.0);
    if ((a < 0.0 && -0.5 * a <= b && b <= -2.0 * a) || (a > 0.0 && -0.5 * a >= b && b >= -2.0 * a)) {
        // (i): one quadratic, monotone between g0 and g1
        const double x2 = x * x, x3 = x2 * x;
        return g0 * (x - 2.0 * x2 + x3) + g1 * (x3 - x2);
    }
    if ((a < 0.0 && b > -2.0 * a) || (a > 0.0 && b < -2.0 * a)) {
        // (ii): flat at g0, then a quadratic to g1
        const T eta = (g1 + 2.0 * g0) / (g1 - g0);
        if (x <= value_of(eta)) return g0 * x;
        const T u = x - eta, w = 1.0 - eta;
        return g0 * x + (g1 - g0) * u * u * u / (3.0 * w * w);
    }
    if ((a > 0.0 && b < 0.0 && b > -0.5 * a) || (a < 0.0 && b > 0.0 && b < -0.5 * a)) {
        // (iii): a quadratic from g0, then flat at g1
        const T eta = 3.0 * g1 / (g1 - g0);
        if (x < value_of(eta)) {
            const T u = eta - x;
            return g1 * x + (g0 - g1) * (eta * eta * eta - u * u * u) / (3.0 * eta * eta);
        }
        return g1 * x + (g0 - g1) * eta / 3.0;
    }
    // (iv): g0 and g1 of one sign: two quadratics meeting at their extremum A
    const T eta = g1 / (g1 + g0);
    const T big_a = -g0 * g1 / (g0 + g1);
    if (x <= value_of(eta)) {
        const T u = eta - x;
        return big_a * x + (g0 - big_a) * (eta * eta * eta - u * u * u) / (3.0 * eta * eta);
    }
    const T u = x - eta, w = 1.0 - eta;
    return big_a * x + (g0 - big_a) * eta / 3.0 + (g1 - big_a) * u * u * u / (3.0 * w * w);
}

}  // namespace

Result<MonotoneConvex> MonotoneConvex::create(std::span<const double> xs, std::span<const double> integrals) {
    const std::size_t m = xs.size();
    if (m < 2 || integrals.size() != m) return invalid("monotone convex: need at least two nodes and one integral per node");
    for (std::size_t i = 0; i < m; ++i) {
        if (!std::isfinite(xs[i]) || !std::isfinite(integrals[i]))
            return invalid("monotone convex: nodes and integrals must be finite");
        if (i > 0 && !(xs[i - 1] < xs[i])) return invalid("monotone convex: nodes must be strictly increasing");
    }
    MonotoneConvex s;
    s.xs_.assign(xs.begin(), xs.end());
    s.integrals_.assign(integrals.begin(), integrals.end());
    const std::size_t n = m - 1;  // intervals
    s.h_.resize(n);
    s.fd_.resize(n);
    for (std::size_t k = 0; k < n; ++k) {
        s.h_[k] = xs[k + 1] - xs[k];
        s.fd_[k] = (integrals[k + 1] - integrals[k]) / s.h_[k];
    }
    s.f_.assign(m, 0.0);
    s.c_.assign(m, Combination{});
    if (n == 1) {
        s.f_[0] = s.f_[1] = s.fd_[0];
        s.c_[0] = s.c_[1] = {0, 0, 1.0, 0.0};
    } else {
        for (std::size_t j = 1; j < n; ++j) {
            const double total = s.h_[j - 1] + s.h_[j];
            const double a = s.h_[j] / total, b = s.h_[j - 1] / total;
            s.c_[j] = {j - 1, j, a, b};
            s.f_[j] = a * s.fd_[j - 1] + b * s.fd_[j];
        }
        // f_0 = fd_0 - (f_1 - fd_0)/2, f_n = fd_(n-1) - (f_(n-1) - fd_(n-1))/2
        const Combination& c1 = s.c_[1];
        s.c_[0] = {0, 1, 1.5 - 0.5 * c1.a, -0.5 * c1.b};
        s.f_[0] = s.fd_[0] - 0.5 * (s.f_[1] - s.fd_[0]);
        const Combination& cl = s.c_[n - 1];
        s.c_[n] = {n - 2, n - 1, -0.5 * cl.a, 1.5 - 0.5 * cl.b};
        s.f_[n] = s.fd_[n - 1] - 0.5 * (s.f_[n - 1] - s.fd_[n - 1]);
    }
    // Positivity: a node between positive means is held in [0, 2 min(means)].
    for (std::size_t j = 0; j < m; ++j) {
        const std::size_t left = j == 0 ? 0 : j - 1, right = j == n ? n - 1 : j;
        const double lo_mean = std::min(s.fd_[left], s.fd_[right]);
        if (!(lo_mean > 0.0)) continue;
        const std::size_t arg = s.fd_[left] <= s.fd_[right] ? left : right;
        if (s.f_[j] < 0.0) {
            s.f_[j] = 0.0;
            s.c_[j] = {arg, arg, 0.0, 0.0};
        } else if (s.f_[j] > 2.0 * lo_mean) {
            s.f_[j] = 2.0 * lo_mean;
            s.c_[j] = {arg, arg, 2.0, 0.0};
        }
    }
    return s;
}

std::size_t MonotoneConvex::interval_of(double x) const {
    const auto it = std::upper_bound(xs_.begin(), xs_.end(), x);
    std::size_t k = it == xs_.begin() ? 0 : static_cast<std::size_t>(it - xs_.begin()) - 1;
    return std::min(k, h_.size() - 1);
}

double MonotoneConvex::integral(double x) const {
    const std::size_t k = interval_of(x);
    if (x == xs_[k + 1]) return integrals_[k + 1];
    if (x == xs_[k]) return integrals_[k];
    const double xi = (x - xs_[k]) / h_[k];
    const double g = departure_integral<double>(xi, f_[k] - fd_[k], f_[k + 1] - fd_[k]);
    return integrals_[k] + fd_[k] * (x - xs_[k]) + h_[k] * g;
}

void MonotoneConvex::add_mean_gradient(std::size_t k, double weight, std::span<double> grad) const {
    const double w = weight / h_[k];
    grad[k + 1] += w;
    grad[k] -= w;
}

void MonotoneConvex::add_node_gradient(std::size_t j, double weight, std::span<double> grad) const {
    const Combination& c = c_[j];
    if (c.a != 0.0) add_mean_gradient(c.p, weight * c.a, grad);
    if (c.b != 0.0) add_mean_gradient(c.q, weight * c.b, grad);
}

void MonotoneConvex::add_integral_gradient(double x, double weight, std::span<double> grad) const {
    const std::size_t k = interval_of(x);
    if (x == xs_[k + 1]) {
        grad[k + 1] += weight;
        return;
    }
    if (x == xs_[k]) {
        grad[k] += weight;
        return;
    }
    const double xi = (x - xs_[k]) / h_[k];
    using D = Dual<2>;
    const D g = departure_integral<D>(xi, D::variable(f_[k] - fd_[k], 0), D::variable(f_[k + 1] - fd_[k], 1));
    // integral = I_k + fd_k (x - x_k) + h_k G(g0, g1), g0 = f_k - fd_k, g1 = f_(k+1) - fd_k
    grad[k] += weight;
    add_mean_gradient(k, weight * ((x - xs_[k]) - h_[k] * (g.d[0] + g.d[1])), grad);
    add_node_gradient(k, weight * h_[k] * g.d[0], grad);
    add_node_gradient(k + 1, weight * h_[k] * g.d[1], grad);
}

void MonotoneConvex::add_last_value_gradient(double weight, std::span<double> grad) const {
    add_node_gradient(f_.size() - 1, weight, grad);
}

}  // namespace quelm

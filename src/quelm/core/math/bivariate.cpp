#include "quelm/core/math/bivariate.hpp"

#include <array>
#include <cmath>

#include "quelm/core/math/elementary.hpp"
#include "quelm/core/math/erf.hpp"
#include "quelm/core/math/gauss_legendre.hpp"

namespace quelm {

namespace {

constexpr std::size_t kNodes = 20;
constexpr double kPi = 3.14159265358979323846;

struct Nodes {
    double rho = std::nan("");
    double half = 0.0;
    std::array<double, kNodes> sn{}, c2{};
};

// theta = asin(rho) (1 + x_i) / 2 at each node: sin theta and cos^2 theta.
Nodes nodes_for(const GaussLegendreRule& g, double rho) {
    Nodes n;
    n.rho = rho;
    n.half = quelm::atan2(rho, std::sqrt((1.0 - rho) * (1.0 + rho))) / 2.0;
    for (std::size_t i = 0; i < kNodes; ++i) {
        n.sn[i] = quelm::sin(n.half * (g.nodes[i] + 1.0));
        n.c2[i] = (1.0 - n.sn[i]) * (1.0 + n.sn[i]);
    }
    return n;
}

}  // namespace

double bivariate_normal_cdf(double a, double b, double rho) {
    static const GaussLegendreRule g = gauss_legendre_rule(kNodes);
    if (std::isnan(a) || std::isnan(b) || std::isnan(rho)) return std::nan("");
    if (std::isinf(a) || std::isinf(b)) {
        if (a == -INFINITY || b == -INFINITY) return 0.0;
        if (a == INFINITY) return normal_cdf_accurate(b);
        return normal_cdf_accurate(a);
    }
    // M = Phi(a) Phi(b) + (1/2pi) int_0^asin(rho) exp(-(a^2 + b^2 - 2ab sin t) / (2 cos^2 t)) dt
    // The nodes depend on rho alone, and callers (Bjerksund-Stensland) ask for few values
    // of it: the last one's sines are kept per thread (the same numbers either way).
    thread_local Nodes cached{};
    if (!(cached.rho == rho)) cached = nodes_for(g, rho);
    const double half = cached.half;
    const double sum_squares = a * a + b * b;
    double integral = 0.0;
    for (std::size_t i = 0; i < kNodes; ++i) {
        const double sn = cached.sn[i];
        integral += g.weights[i] * quelm::exp(-(sum_squares - 2.0 * a * b * sn) / (2.0 * cached.c2[i]));
    }
    return normal_cdf_accurate(a) * normal_cdf_accurate(b) + integral * half / (2.0 * kPi);
}

}  // namespace quelm

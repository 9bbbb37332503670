#include "quelm/core/math/bivariate.hpp"

#include <array>
#include <cmath>

#include "quelm/core/math/elementary.hpp"
#include "quelm/core/math/erf.hpp"

namespace quelm {

namespace {

constexpr int kNodes = 20;
constexpr double kPi = 3.14159265358979323846;

struct GaussLegendre {
    std::array<double, kNodes> x{}, w{};
};

// Nodes and weights on [-1, 1]: Newton on the Legendre polynomial from Tricomi's guesses.
GaussLegendre make_gauss_legendre() {
    GaussLegendre g;
    for (int i = 0; i < kNodes; ++i) {
        double z = quelm::cos(kPi * (i + 0.75) / (kNodes + 0.5));
        double dp = 1.0;
        for (int iter = 0; iter < 100; ++iter) {
            double p0 = 1.0;
            double p1 = z;
            for (int n = 2; n <= kNodes; ++n) {
                const double p2 = ((2.0 * n - 1.0) * z * p1 - (n - 1.0) * p0) / n;
                p0 = p1;
                p1 = p2;
            }
            dp = kNodes * (z * p1 - p0) / (z * z - 1.0);
            const double step = p1 / dp;
            z -= step;
            if (std::fabs(step) < 1e-16) break;
        }
        g.x[i] = z;
        g.w[i] = 2.0 / ((1.0 - z * z) * dp * dp);
    }
    return g;
}

struct Nodes {
    double rho = std::nan("");
    double half = 0.0;
    std::array<double, kNodes> sn{}, c2{};
};

// theta = asin(rho) (1 + x_i) / 2 at each node: sin theta and cos^2 theta.
Nodes nodes_for(const GaussLegendre& g, double rho) {
    Nodes n;
    n.rho = rho;
    n.half = quelm::atan2(rho, std::sqrt((1.0 - rho) * (1.0 + rho))) / 2.0;
    for (int i = 0; i < kNodes; ++i) {
        n.sn[i] = quelm::sin(n.half * (g.x[i] + 1.0));
        n.c2[i] = (1.0 - n.sn[i]) * (1.0 + n.sn[i]);
    }
    return n;
}

}  // namespace

double bivariate_normal_cdf(double a, double b, double rho) {
    static const GaussLegendre g = make_gauss_legendre();
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
    for (int i = 0; i < kNodes; ++i) {
        const double sn = cached.sn[i];
        integral += g.w[i] * quelm::exp(-(sum_squares - 2.0 * a * b * sn) / (2.0 * cached.c2[i]));
    }
    return normal_cdf_accurate(a) * normal_cdf_accurate(b) + integral * half / (2.0 * kPi);
}

}  // namespace quelm

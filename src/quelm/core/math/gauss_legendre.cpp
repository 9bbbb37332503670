#include "quelm/core/math/gauss_legendre.hpp"

#include <array>
#include <cmath>
#include <vector>

#include "quelm/core/math/elementary.hpp"

namespace quelm {

namespace {

constexpr std::array<std::size_t, 17> kOrders = {16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 256, 320, 384, 512};

using Rule = GaussLegendreRule;

}  // namespace

GaussLegendreRule gauss_legendre_rule(std::size_t n) {
    Rule r{std::vector<double>(n), std::vector<double>(n)};
    const double pi = 3.141592653589793;
    const double nd = static_cast<double>(n);
    for (std::size_t i = 0; i < (n + 1) / 2; ++i) {
        // Tricomi's first guess of the i-th largest root, then Newton on P_n.
        double x = quelm::cos(pi * (static_cast<double>(i) + 0.75) / (nd + 0.5));
        double dp = 0.0;
        for (int it = 0; it < 100; ++it) {
            double p0 = 1.0, p1 = x;
            for (std::size_t k = 2; k <= n; ++k) {
                const double kd = static_cast<double>(k);
                const double p2 = ((2.0 * kd - 1.0) * x * p1 - (kd - 1.0) * p0) / kd;
                p0 = p1;
                p1 = p2;
            }
            dp = nd * (x * p1 - p0) / (x * x - 1.0);
            const double dx = p1 / dp;
            x -= dx;
            if (std::fabs(dx) <= 1e-16) break;
        }
        const double w = 2.0 / ((1.0 - x * x) * dp * dp);
        r.nodes[n - 1 - i] = x;
        r.weights[n - 1 - i] = w;
        r.nodes[i] = -x;
        r.weights[i] = w;
    }
    if (n % 2 == 1) r.nodes[n / 2] = 0.0;
    return r;
}

namespace {

const std::array<Rule, kOrders.size()>& rules() {
    static const std::array<Rule, kOrders.size()> all = [] {
        std::array<Rule, kOrders.size()> a;
        for (std::size_t i = 0; i < kOrders.size(); ++i) a[i] = gauss_legendre_rule(kOrders[i]);
        return a;
    }();
    return all;
}

}  // namespace

std::span<const std::size_t> gauss_legendre_orders() { return kOrders; }

GaussLegendre gauss_legendre_at_least(double n) {
    std::size_t i = 0;
    while (i + 1 < kOrders.size() && !(static_cast<double>(kOrders[i]) >= n)) ++i;
    const Rule& r = rules()[i];
    return {r.nodes, r.weights};
}

}  // namespace quelm

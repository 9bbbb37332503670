#include "quelm/volatility/sabr_start.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>

namespace quelm::volatility {

std::optional<SabrParams> sabr_normal_start(double forward, std::span<const double> strikes,
                                            std::span<const double> vols, double t) {
    const std::size_t n = strikes.size();
    if (n < 3 || vols.size() != n) return std::nullopt;
    // The quotes nearest the money: the parabola is the expansion's to second order only.
    constexpr std::size_t kNear = 5;
    std::array<std::size_t, kNear> pick{};
    const std::size_t m = std::min(n, kNear);
    std::array<bool, 64> taken{};
    if (n > taken.size()) return std::nullopt;
    for (std::size_t s = 0; s < m; ++s) {
        std::size_t best = n;
        for (std::size_t i = 0; i < n; ++i)
            if (!taken[i] && (best == n || std::fabs(strikes[i] - forward) < std::fabs(strikes[best] - forward)))
                best = i;
        taken[best] = true;
        pick[s] = best;
    }
    // Least squares of v = a + b d + c d^2, d scaled by the widest distance for conditioning.
    double scale = 0.0;
    for (std::size_t s = 0; s < m; ++s) scale = std::max(scale, std::fabs(strikes[pick[s]] - forward));
    if (!(scale > 0.0) || !std::isfinite(scale)) return std::nullopt;
    double s0 = 0, s1 = 0, s2 = 0, s3 = 0, s4 = 0, v0 = 0, v1 = 0, v2 = 0;
    for (std::size_t s = 0; s < m; ++s) {
        const double d = (strikes[pick[s]] - forward) / scale, v = vols[pick[s]], d2 = d * d;
        s0 += 1.0, s1 += d, s2 += d2, s3 += d2 * d, s4 += d2 * d2;
        v0 += v, v1 += v * d, v2 += v * d2;
    }
    // Cramer's rule on the 3 x 3 normal equations.
    const auto det3 = [](double a, double b, double c, double d, double e, double f, double g, double h, double i) {
        return a * (e * i - f * h) - b * (d * i - f * g) + c * (d * h - e * g);
    };
    const double det = det3(s0, s1, s2, s1, s2, s3, s2, s3, s4);
    if (!(std::fabs(det) > 1e-12) || !std::isfinite(det)) return std::nullopt;
    const double a = det3(v0, s1, s2, v1, s2, s3, v2, s3, s4) / det;
    const double b = det3(s0, v0, s2, s1, v1, s3, s2, v2, s4) / det / scale;
    const double c = det3(s0, s1, v0, s1, s2, v1, s2, s3, v2) / det / (scale * scale);
    if (!(a > 0.0) || !std::isfinite(b) || !std::isfinite(c)) return std::nullopt;
    // a = k alpha, c = k (2 - 3 rho^2) nu^2 / (12 alpha) and k = 1 + t (2 - 3 rho^2) nu^2 / 24
    // give k = 1 + t a c / (2 k^2): a few fixed-point steps from k = 1.
    double k = 1.0;
    for (int it = 0; it < 30; ++it) k = std::max(1.0 + t * a * c / (2.0 * k * k), 0.05);
    const double alpha = a / k;
    const double rho_nu = 2.0 * b / k;
    const double curv = 12.0 * alpha * c / k;  // (2 - 3 rho^2) nu^2
    constexpr double kRhoMax = 0.99;
    double nu2 = (curv + 3.0 * rho_nu * rho_nu) / 2.0;
    nu2 = std::max(nu2, rho_nu * rho_nu / (kRhoMax * kRhoMax));
    const double nu = std::sqrt(nu2);
    const double rho = nu > 0.0 ? std::clamp(rho_nu / nu, -kRhoMax, kRhoMax) : 0.0;
    if (!std::isfinite(alpha) || !std::isfinite(nu)) return std::nullopt;
    return SabrParams{alpha, 0.0, rho, nu};
}

}  // namespace quelm::volatility

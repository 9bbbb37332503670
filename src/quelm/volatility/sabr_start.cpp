#include "quelm/volatility/sabr_start.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <utility>

namespace quelm::volatility {

std::optional<SabrParams> sabr_normal_start(double forward, std::span<const double> strikes,
                                            std::span<const double> vols, double t) {
    const std::size_t n = strikes.size();
    if (n < 3 || vols.size() != n) return std::nullopt;
    // The quotes nearest the money: the parabola is the expansion's to second order only.
    constexpr std::size_t kNear = 5;
    std::array<std::size_t, kNear> pick{};
    std::array<double, kNear> gap{};
    const std::size_t m = std::min(n, kNear);
    // One pass, keeping the m nearest in order of distance (the earlier strike first on a tie).
    std::size_t kept = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double d = std::fabs(strikes[i] - forward);
        if (kept == m && !(d < gap[m - 1])) continue;
        std::size_t slot = kept < m ? kept++ : m - 1;
        for (; slot > 0 && d < gap[slot - 1]; --slot) {
            gap[slot] = gap[slot - 1];
            pick[slot] = pick[slot - 1];
        }
        gap[slot] = d;
        pick[slot] = i;
    }
    // The smile's Taylor coefficients at the money from a polynomial through (or, with more
    // quotes, nearest) them: degree up to 4, so that the cubic and quartic terms do not leak
    // into the skew and curvature. d is scaled by the widest distance for conditioning.
    double scale = 0.0;
    for (std::size_t s = 0; s < m; ++s) scale = std::max(scale, std::fabs(strikes[pick[s]] - forward));
    if (!(scale > 0.0) || !std::isfinite(scale)) return std::nullopt;
    const std::size_t terms = m;  // m <= 5 quotes: degree m - 1
    std::array<std::array<double, kNear + 1>, kNear> eq{};
    for (std::size_t s = 0; s < m; ++s) {
        const double d = (strikes[pick[s]] - forward) / scale;
        std::array<double, kNear> powers{};
        powers[0] = 1.0;
        for (std::size_t j = 1; j < terms; ++j) powers[j] = powers[j - 1] * d;
        for (std::size_t a = 0; a < terms; ++a) {
            for (std::size_t b = 0; b < terms; ++b) eq[a][b] += powers[a] * powers[b];
            eq[a][terms] += powers[a] * vols[pick[s]];
        }
    }
    // Gaussian elimination with partial pivoting on the normal equations.
    for (std::size_t col = 0; col < terms; ++col) {
        std::size_t pivot = col;
        for (std::size_t r = col + 1; r < terms; ++r)
            if (std::fabs(eq[r][col]) > std::fabs(eq[pivot][col])) pivot = r;
        if (!(std::fabs(eq[pivot][col]) > 1e-13)) return std::nullopt;  // strikes not distinct
        std::swap(eq[col], eq[pivot]);
        for (std::size_t r = col + 1; r < terms; ++r) {
            const double factor = eq[r][col] / eq[col][col];
            for (std::size_t j = col; j <= terms; ++j) eq[r][j] -= factor * eq[col][j];
        }
    }
    std::array<double, kNear> coef{};
    for (std::size_t r = terms; r-- > 0;) {
        double sum = eq[r][terms];
        for (std::size_t j = r + 1; j < terms; ++j) sum -= eq[r][j] * coef[j];
        coef[r] = sum / eq[r][r];
    }
    const double a = coef[0], b = coef[1] / scale, c = coef[2] / (scale * scale);
    if (!(a > 0.0) || !std::isfinite(b) || !std::isfinite(c)) return std::nullopt;
    // a = k alpha, c = k (2 - 3 rho^2) nu^2 / (12 alpha) and k = 1 + t (2 - 3 rho^2) nu^2 / 24
    // give k = 1 + t a c / (2 k^2): a few fixed-point steps from k = 1.
    double k = 1.0;
    const double s = t * a * c / 2.0;
    for (int it = 0; it < 30; ++it) {
        const double next = std::max(1.0 + s / (k * k), 0.05);
        const bool settled = std::fabs(next - k) <= 1e-10 * k;  // far below the guess's own error
        k = next;
        if (settled) break;
    }
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

#include "quelm/core/math/lu.hpp"

#include <cmath>
#include <utility>

namespace quelm {

Result<LuFactors> LuFactors::factor(std::vector<double> a, std::size_t n) {
    LuFactors f;
    f.n_ = n;
    f.perm_.resize(n);
    for (std::size_t i = 0; i < n; ++i) f.perm_[i] = i;
    double scale = 0.0;
    for (double x : a) {
        if (!std::isfinite(x)) return numerical("lu: singular matrix");
        scale = std::fmax(scale, std::fabs(x));
    }
    const double floor = static_cast<double>(n) * 2.220446049250313e-16 * scale;
    for (std::size_t k = 0; k < n; ++k) {
        std::size_t p = k;
        for (std::size_t i = k + 1; i < n; ++i)
            if (std::fabs(a[i * n + k]) > std::fabs(a[p * n + k])) p = i;
        if (!(std::fabs(a[p * n + k]) > floor)) return numerical("lu: singular matrix");
        if (p != k) {
            for (std::size_t j = 0; j < n; ++j) std::swap(a[k * n + j], a[p * n + j]);
            std::swap(f.perm_[k], f.perm_[p]);
        }
        const double pivot = a[k * n + k];
        for (std::size_t i = k + 1; i < n; ++i) {
            const double m = a[i * n + k] / pivot;
            a[i * n + k] = m;
            if (m == 0.0) continue;
            for (std::size_t j = k + 1; j < n; ++j) a[i * n + j] -= m * a[k * n + j];
        }
    }
    f.lu_ = std::move(a);
    return f;
}

void LuFactors::solve(std::span<double> b) const {
    const std::size_t n = n_;
    std::vector<double> x(n);
    for (std::size_t i = 0; i < n; ++i) x[i] = b[perm_[i]];
    for (std::size_t i = 0; i < n; ++i) {
        double s = x[i];
        for (std::size_t j = 0; j < i; ++j) s -= lu_[i * n + j] * x[j];
        x[i] = s;
    }
    for (std::size_t i = n; i-- > 0;) {
        double s = x[i];
        for (std::size_t j = i + 1; j < n; ++j) s -= lu_[i * n + j] * x[j];
        x[i] = s / lu_[i * n + i];
    }
    for (std::size_t i = 0; i < n; ++i) b[i] = x[i];
}

void LuFactors::solve_transposed(std::span<double> b) const {
    // (P A)^T = A^T P^T = U^T L^T, so A^T x = b is U^T L^T (P x) = b.
    const std::size_t n = n_;
    std::vector<double> y(b.begin(), b.end());
    for (std::size_t i = 0; i < n; ++i) {
        double s = y[i];
        for (std::size_t j = 0; j < i; ++j) s -= lu_[j * n + i] * y[j];
        y[i] = s / lu_[i * n + i];
    }
    for (std::size_t i = n; i-- > 0;) {
        double s = y[i];
        for (std::size_t j = i + 1; j < n; ++j) s -= lu_[j * n + i] * y[j];
        y[i] = s;
    }
    for (std::size_t i = 0; i < n; ++i) b[perm_[i]] = y[i];
}

}  // namespace quelm

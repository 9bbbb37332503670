#include "quelm/core/math/banded_lu.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

namespace quelm {

BandedLu::BandedLu(std::size_t n, std::size_t kl, std::size_t ku)
    : n_(n), kl_(kl), ku_(ku), ld_(2 * kl + ku + 1), ab_(n * (2 * kl + ku + 1), 0.0), piv_(n, 0) {}

Status BandedLu::factor() {
    const std::size_t n = n_, kl = kl_, kv = kl_ + ku_;
    double scale = 0.0;
    for (double x : ab_) {
        if (!std::isfinite(x)) return numerical("lu: singular matrix");
        scale = std::fmax(scale, std::fabs(x));
    }
    const double floor = static_cast<double>(n) * 2.220446049250313e-16 * scale;
    for (std::size_t j = 0; j < n; ++j) {
        const std::size_t km = std::min(kl, n - 1 - j);
        std::size_t p = j;
        for (std::size_t i = j + 1; i <= j + km; ++i)
            if (std::fabs(at(i, j)) > std::fabs(at(p, j))) p = i;
        piv_[j] = p;
        if (!(std::fabs(at(p, j)) > floor)) return numerical("lu: singular matrix");
        const std::size_t ju = std::min(j + kv, n - 1);
        if (p != j)
            for (std::size_t c = j; c <= ju; ++c) std::swap(at(j, c), at(p, c));
        const double pivot = at(j, j);
        for (std::size_t i = j + 1; i <= j + km; ++i) at(i, j) /= pivot;
        for (std::size_t c = j + 1; c <= ju; ++c) {
            const double u = at(j, c);
            if (u == 0.0) continue;
            for (std::size_t i = j + 1; i <= j + km; ++i) at(i, c) -= at(i, j) * u;
        }
    }
    return {};
}

void BandedLu::solve(std::span<double> b) const {
    const std::size_t n = n_, kl = kl_, kv = kl_ + ku_;
    for (std::size_t j = 0; j < n; ++j) {
        std::swap(b[j], b[piv_[j]]);
        const std::size_t km = std::min(kl, n - 1 - j);
        const double bj = b[j];
        if (bj != 0.0)
            for (std::size_t i = j + 1; i <= j + km; ++i) b[i] -= get(i, j) * bj;
    }
    for (std::size_t j = n; j-- > 0;) {
        b[j] /= get(j, j);
        const double bj = b[j];
        for (std::size_t i = j > kv ? j - kv : 0; i < j; ++i) b[i] -= get(i, j) * bj;
    }
}

void BandedLu::solve_transposed(std::span<double> b) const {
    const std::size_t n = n_, kl = kl_, kv = kl_ + ku_;
    // Uᵀ y = b, then the unit lower factors' transposes and the swaps, last first.
    for (std::size_t j = 0; j < n; ++j) {
        double s = b[j];
        for (std::size_t i = j > kv ? j - kv : 0; i < j; ++i) s -= get(i, j) * b[i];
        b[j] = s / get(j, j);
    }
    for (std::size_t j = n; j-- > 0;) {
        const std::size_t km = std::min(kl, n - 1 - j);
        double s = b[j];
        for (std::size_t i = j + 1; i <= j + km; ++i) s -= get(i, j) * b[i];
        b[j] = s;
        std::swap(b[j], b[piv_[j]]);
    }
}

}  // namespace quelm

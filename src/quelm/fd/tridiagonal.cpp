#include "quelm/fd/tridiagonal.hpp"

#include <cstddef>

namespace quelm::fd {

void solve_tridiagonal(const Tridiagonal& a, std::span<const double> rhs, std::span<double> v,
                       std::span<double> work) {
    const std::size_t n = a.diag.size();
    double* c = work.data();
    double den = a.diag[0];
    c[0] = a.upper[0] / den;
    v[0] = rhs[0] / den;
    for (std::size_t i = 1; i < n; ++i) {
        den = a.diag[i] - a.lower[i] * c[i - 1];
        c[i] = i + 1 < n ? a.upper[i] / den : 0.0;
        v[i] = (rhs[i] - a.lower[i] * v[i - 1]) / den;
    }
    for (std::size_t i = n - 1; i-- > 0;) v[i] -= c[i] * v[i + 1];
}

void FactoredTridiagonal::factor(const Tridiagonal& a) {
    const std::size_t n = a.diag.size();
    lower.assign(a.lower.begin(), a.lower.end());
    ratio.resize(n);
    inverse.resize(n);
    inverse[0] = 1.0 / a.diag[0];
    ratio[0] = a.upper[0] * inverse[0];
    for (std::size_t i = 1; i < n; ++i) {
        inverse[i] = 1.0 / (a.diag[i] - a.lower[i] * ratio[i - 1]);
        ratio[i] = i + 1 < n ? a.upper[i] * inverse[i] : 0.0;
    }
}

void FactoredTridiagonal::solve(const double* rhs, double* v, std::size_t stride) const {
    const std::size_t n = inverse.size();
    double prev = rhs[0] * inverse[0];
    v[0] = prev;
    for (std::size_t i = 1; i < n; ++i) {
        prev = (rhs[i * stride] - lower[i] * prev) * inverse[i];
        v[i * stride] = prev;
    }
    for (std::size_t i = n - 1; i-- > 0;) {
        prev = v[i * stride] - ratio[i] * prev;
        v[i * stride] = prev;
    }
}

void solve_with_floor(const Tridiagonal& a, std::span<const double> rhs, std::span<const double> floor,
                      FloorSide side, std::span<double> v, std::span<double> work) {
    const std::size_t n = a.diag.size();
    double* c = work.data();
    if (side == FloorSide::Low) {
        // Eliminate upwards from the top row, so row i reads d_i v[i] + lower[i] v[i-1] = g_i.
        double den = a.diag[n - 1];
        c[n - 1] = a.lower[n - 1] / den;
        v[n - 1] = rhs[n - 1] / den;
        for (std::size_t i = n - 1; i-- > 0;) {
            den = a.diag[i] - a.upper[i] * c[i + 1];
            c[i] = i > 0 ? a.lower[i] / den : 0.0;
            v[i] = (rhs[i] - a.upper[i] * v[i + 1]) / den;
        }
        v[0] = v[0] > floor[0] ? v[0] : floor[0];
        for (std::size_t i = 1; i < n; ++i) {
            const double x = v[i] - c[i] * v[i - 1];
            v[i] = x > floor[i] ? x : floor[i];
        }
        return;
    }
    double den = a.diag[0];
    c[0] = a.upper[0] / den;
    v[0] = rhs[0] / den;
    for (std::size_t i = 1; i < n; ++i) {
        den = a.diag[i] - a.lower[i] * c[i - 1];
        c[i] = i + 1 < n ? a.upper[i] / den : 0.0;
        v[i] = (rhs[i] - a.lower[i] * v[i - 1]) / den;
    }
    v[n - 1] = v[n - 1] > floor[n - 1] ? v[n - 1] : floor[n - 1];
    for (std::size_t i = n - 1; i-- > 0;) {
        const double x = v[i] - c[i] * v[i + 1];
        v[i] = x > floor[i] ? x : floor[i];
    }
}

}  // namespace quelm::fd

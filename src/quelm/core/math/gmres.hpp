// Restarted GMRES with a right preconditioner (Saad and Schultz, SIAM J. Sci. Stat. Comput.
// 7(3), 1986): x with A x ≈ b, where A is known by its products and M ≈ A solves cheaply.
// The iterates stop at a residual of `tol` ‖b‖ or when a restart no longer reduces the
// residual (the floor the rounding of A's products sets). Deterministic: the same operations
// in the same order for the same inputs.
#pragma once

#include <cmath>
#include <cstddef>
#include <span>
#include <vector>

#include "quelm/core/cancel.hpp"
#include "quelm/core/error.hpp"

namespace quelm {

// apply(x, out): out = A x; precondition(v): v <- M⁻¹ v. x: the start on entry (zeros are a
// fine start), the solution on exit. `achieved`, when given, receives ‖b − A x‖ / ‖b‖ of the
// returned x, so a caller that needs an accurate solve (not a Newton step) can tell a stall.
template <class Apply, class Precondition>
[[nodiscard]] Status gmres(Apply&& apply, Precondition&& precondition, std::span<const double> b, std::span<double> x,
                           double tol, std::size_t restart, std::size_t max_restarts, Cancel& cancel,
                           double* achieved = nullptr) {
    const std::size_t n = b.size();
    double bnorm = 0.0;
    for (double v : b) bnorm += v * v;
    bnorm = std::sqrt(bnorm);
    if (achieved) *achieved = 0.0;
    if (bnorm == 0.0) {
        for (double& v : x) v = 0.0;
        return {};
    }
    const std::size_t m = restart;
    std::vector<double> r(n), w(n), z(n), basis((m + 1) * n), h((m + 1) * m), cs(m), sn(m), g(m + 1), y(m);
    double last = INFINITY;
    CancelPoller poller(cancel);
    for (std::size_t cycle = 0; cycle < max_restarts; ++cycle) {
        if (poller.check()) return cancelled();
        apply(std::span<const double>(x), std::span<double>(r));
        double rnorm = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            r[i] = b[i] - r[i];
            rnorm += r[i] * r[i];
        }
        rnorm = std::sqrt(rnorm);
        if (!std::isfinite(rnorm)) return numerical("gmres: the iteration diverged");
        if (achieved) *achieved = rnorm / bnorm;
        if (rnorm <= tol * bnorm || !(rnorm < 0.5 * last)) return {};
        last = rnorm;
        for (std::size_t i = 0; i < n; ++i) basis[i] = r[i] / rnorm;
        std::fill(g.begin(), g.end(), 0.0);
        g[0] = rnorm;
        std::size_t k = 0;
        for (; k < m; ++k) {
            if (poller.tick(n / 64 + 1)) return cancelled();
            const double* vk = &basis[k * n];
            for (std::size_t i = 0; i < n; ++i) z[i] = vk[i];
            precondition(std::span<double>(z));
            apply(std::span<const double>(z), std::span<double>(w));
            // Modified Gram-Schmidt, twice: the basis stays orthogonal to rounding.
            for (std::size_t j = 0; j <= k; ++j) h[j * m + k] = 0.0;
            for (int pass = 0; pass < 2; ++pass)
                for (std::size_t j = 0; j <= k; ++j) {
                    const double* vj = &basis[j * n];
                    double d = 0.0;
                    for (std::size_t i = 0; i < n; ++i) d += vj[i] * w[i];
                    for (std::size_t i = 0; i < n; ++i) w[i] -= d * vj[i];
                    h[j * m + k] += d;
                }
            double wn = 0.0;
            for (double v : w) wn += v * v;
            wn = std::sqrt(wn);
            h[(k + 1) * m + k] = wn;
            if (wn > 0.0)
                for (std::size_t i = 0; i < n; ++i) basis[(k + 1) * n + i] = w[i] / wn;
            for (std::size_t j = 0; j < k; ++j) {
                const double a = h[j * m + k], c = h[(j + 1) * m + k];
                h[j * m + k] = cs[j] * a + sn[j] * c;
                h[(j + 1) * m + k] = -sn[j] * a + cs[j] * c;
            }
            const double a = h[k * m + k], c = h[(k + 1) * m + k];
            const double rho = std::sqrt(a * a + c * c);
            if (rho == 0.0) break;
            cs[k] = a / rho;
            sn[k] = c / rho;
            h[k * m + k] = rho;
            h[(k + 1) * m + k] = 0.0;
            g[k + 1] = -sn[k] * g[k];
            g[k] = cs[k] * g[k];
            if (std::fabs(g[k + 1]) <= 0.1 * tol * bnorm || wn == 0.0) {
                ++k;
                break;
            }
        }
        // y = H⁻¹ g on the k columns; x += M⁻¹ V y.
        for (std::size_t j = k; j-- > 0;) {
            double s = g[j];
            for (std::size_t l = j + 1; l < k; ++l) s -= h[j * m + l] * y[l];
            y[j] = s / h[j * m + j];
        }
        std::fill(z.begin(), z.end(), 0.0);
        for (std::size_t j = 0; j < k; ++j)
            for (std::size_t i = 0; i < n; ++i) z[i] += y[j] * basis[j * n + i];
        precondition(std::span<double>(z));
        for (std::size_t i = 0; i < n; ++i) x[i] += z[i];
    }
    if (achieved) {
        apply(std::span<const double>(x), std::span<double>(r));
        double rnorm = 0.0;
        for (std::size_t i = 0; i < n; ++i) rnorm += (b[i] - r[i]) * (b[i] - r[i]);
        *achieved = std::sqrt(rnorm) / bnorm;
    }
    return {};
}

}  // namespace quelm

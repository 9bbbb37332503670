#include "quelm/volatility/svi.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "quelm/core/math/elementary.hpp"
#include "quelm/core/math/least_squares.hpp"
#include "quelm/core/memory.hpp"
#include "quelm/pricing/option.hpp"

namespace quelm::volatility {

Status validate_svi(const SviParams& p) {
    if (!std::isfinite(p.a)) return invalid("a must be finite");
    if (!(p.b >= 0.0) || !std::isfinite(p.b)) return invalid("b must be finite and >= 0");
    if (!(p.rho > -1.0 && p.rho < 1.0)) return invalid("rho must be in (-1, 1)");
    if (!std::isfinite(p.m)) return invalid("m must be finite");
    if (!(p.sigma > 0.0) || !std::isfinite(p.sigma)) return invalid("sigma must be finite and > 0");
    return {};
}

SviValue svi_value(const SviParams& p, double k) {
    const double x = k - p.m;
    const double root = std::sqrt(x * x + p.sigma * p.sigma);
    return {p.a + p.b * (p.rho * x + root), p.b * (p.rho + x / root), p.b * p.sigma * p.sigma / (root * root * root)};
}

Result<double> svi_vol(double forward, double strike, double t, const SviParams& p) {
    if (forward <= 0.0) return invalid("forward must be > 0");
    if (strike <= 0.0) return invalid("strike must be > 0");
    if (t <= 0.0) return invalid("time to expiry must be > 0");
    if (any_nan(forward, strike, t, p.a, p.b, p.rho, p.m, p.sigma)) return kNaN;
    QUELM_CHECK(validate_svi(p));
    const double w = svi_value(p, quelm::log(strike / forward)).w;
    return w > 0.0 ? std::sqrt(w / t) : kNaN;
}

double svi_density_factor(const SviParams& p, double k) {
    const SviValue v = svi_value(p, k);
    if (!(v.w > 0.0)) return -std::numeric_limits<double>::infinity();
    const double first = 1.0 - k * v.dw / (2.0 * v.w);
    return first * first - v.dw * v.dw / 4.0 * (1.0 / v.w + 0.25) + v.d2w / 2.0;
}

ButterflyCheck check_butterfly(const SviParams& p, double k_lo, double k_hi) {
    constexpr int kPoints = 401;
    ButterflyCheck out{true, std::numeric_limits<double>::infinity(), {}};
    bool in_violation = false;
    double start = 0.0, prev = k_lo;
    for (int i = 0; i < kPoints; ++i) {
        const double k = k_lo + (k_hi - k_lo) * static_cast<double>(i) / (kPoints - 1);
        const double g = svi_density_factor(p, k);
        out.min_g = std::min(out.min_g, g);
        if (g < 0.0 && !in_violation) {
            in_violation = true;
            start = k;
        } else if (!(g < 0.0) && in_violation) {
            in_violation = false;
            out.violations.insert(out.violations.end(), {start, prev});
        }
        prev = k;
    }
    if (in_violation) out.violations.insert(out.violations.end(), {start, prev});
    out.arbitrage_free = out.violations.empty();
    return out;
}

namespace {

// Weighted linear least squares in (a, d, c) for w = a + d y + c z on one face of the
// domain: `fixed` pins d = s c (s = +1 or -1), c = 0, or c + |d| = cap; returns the sum of
// squares (inf when infeasible) and writes the solution.
struct Slice {
    std::span<const double> ks, w, weight;  // total variances and weights
};

double sse(const Slice& s, double m, double sig, double a, double d, double c) {
    double total = 0.0;
    for (std::size_t i = 0; i < s.ks.size(); ++i) {
        const double y = (s.ks[i] - m) / sig;
        const double e = a + d * y + c * std::sqrt(y * y + 1.0) - s.w[i];
        total += s.weight[i] * e * e;
    }
    return total;
}

// Solves the n x n normal equations (n <= 3) by Gaussian elimination; false when singular.
template <std::size_t N>
bool solve_small(std::array<std::array<double, N + 1>, N> a, std::array<double, N>& x) {
    for (std::size_t col = 0; col < N; ++col) {
        std::size_t piv = col;
        for (std::size_t r = col + 1; r < N; ++r)
            if (std::fabs(a[r][col]) > std::fabs(a[piv][col])) piv = r;
        if (!(std::fabs(a[piv][col]) > 1e-300)) return false;
        std::swap(a[piv], a[col]);
        for (std::size_t r = col + 1; r < N; ++r) {
            const double f = a[r][col] / a[col][col];
            for (std::size_t j = col; j <= N; ++j) a[r][j] -= f * a[col][j];
        }
    }
    for (std::size_t i = N; i-- > 0;) {
        double v = a[i][N];
        for (std::size_t j = i + 1; j < N; ++j) v -= a[i][j] * x[j];
        x[i] = v / a[i][i];
    }
    return true;
}

// Least squares of w on the given basis functions (each a function of y, z).
template <std::size_t N, class Basis>
bool fit_basis(const Slice& s, double m, double sig, Basis basis, std::array<double, N>& x) {
    std::array<std::array<double, N + 1>, N> a{};
    for (std::size_t i = 0; i < s.ks.size(); ++i) {
        const double y = (s.ks[i] - m) / sig;
        const double z = std::sqrt(y * y + 1.0);
        const std::array<double, N> f = basis(y, z);
        for (std::size_t r = 0; r < N; ++r) {
            for (std::size_t q = 0; q < N; ++q) a[r][q] += s.weight[i] * f[r] * f[q];
            a[r][N] += s.weight[i] * f[r] * s.w[i];
        }
    }
    return solve_small<N>(a, x);
}

struct Inner {
    double a, d, c, cost;
};

// The best (a, d, c) for fixed (m, sigma) on 0 <= c, |d| <= c, |d| <= 4 sigma - c.
Inner inner_fit(const Slice& s, double m, double sig) {
    const double cap = 4.0 * sig;
    Inner best{0.0, 0.0, 0.0, std::numeric_limits<double>::infinity()};
    const auto consider = [&](double a, double d, double c) {
        const double tol = 1e-12 * (1.0 + cap);
        if (!(c >= -tol && std::fabs(d) <= c + tol && std::fabs(d) <= cap - c + tol)) return;
        c = std::max(c, 0.0);
        d = std::clamp(d, -c, c);
        const double cost = sse(s, m, sig, a, d, c);
        if (cost < best.cost) best = {a, d, c, cost};
    };
    std::array<double, 3> x3{};
    if (fit_basis<3>(s, m, sig, [](double y, double z) { return std::array<double, 3>{1.0, y, z}; }, x3))
        consider(x3[0], x3[1], x3[2]);
    // Faces: d = c, d = -c (rho = +-1), c + d = cap, c - d = cap (Lee's bound), c = 0.
    std::array<double, 2> x2{};
    for (const double side : {1.0, -1.0}) {
        if (fit_basis<2>(s, m, sig, [side](double y, double z) { return std::array<double, 2>{1.0, side * y + z}; },
                         x2))
            consider(x2[0], side * x2[1], x2[1]);
        // c = cap - side d: w = a + d y + (cap - side d) z = (a + cap z) + d (y - side z).
        Slice shifted = s;
        std::array<double, 2> y2{};
        std::vector<double> target(s.w.size());
        for (std::size_t i = 0; i < s.ks.size(); ++i) {
            const double y = (s.ks[i] - m) / sig;
            target[i] = s.w[i] - cap * std::sqrt(y * y + 1.0);
        }
        shifted.w = target;
        if (fit_basis<2>(shifted, m, sig, [side](double y, double z) { return std::array<double, 2>{1.0, y - side * z}; },
                         y2))
            consider(y2[0], y2[1], cap - side * y2[1]);
    }
    // Vertices: (c, d) = (0, 0), (cap / 2, cap / 2), (cap / 2, -cap / 2): only a is free.
    for (const auto& [c, d] : {std::pair{0.0, 0.0}, std::pair{cap / 2.0, cap / 2.0}, std::pair{cap / 2.0, -cap / 2.0}}) {
        double num = 0.0, den = 0.0;
        for (std::size_t i = 0; i < s.ks.size(); ++i) {
            const double y = (s.ks[i] - m) / sig;
            num += s.weight[i] * (s.w[i] - d * y - c * std::sqrt(y * y + 1.0));
            den += s.weight[i];
        }
        consider(num / den, d, c);
    }
    return best;
}

SviParams params_from(double m, double sig, const Inner& in) {
    const double b = in.c / sig;
    const double rho = in.c > 0.0 ? std::clamp(in.d / in.c, -0.999999, 0.999999) : 0.0;
    return {in.a, b, rho, m, sig};
}

}  // namespace

Result<SviFit> svi_fit(std::span<const double> ks, std::span<const double> vols, double t,
                       std::span<const double> weights, Cancel& cancel) {
    const std::size_t n = ks.size();
    if (vols.size() != n) return bad_argument("strikes and vols must have equal length");
    if (!weights.empty() && weights.size() != n) return bad_argument("weights must have one entry per strike");
    if (!(t > 0.0) || !std::isfinite(t)) return invalid("time to expiry must be finite and > 0");
    if (n < 5) return invalid("at least 5 quotes are needed to fit an SVI slice");
    QUELM_CHECK(check_fits_in_memory(doubles_bytes(10.0 * static_cast<double>(n)), "the SVI fit's residuals"));
    std::vector<double> w(n), weight(n, 1.0);
    double k_lo = ks[0], k_hi = ks[0];
    for (std::size_t i = 0; i < n; ++i) {
        if (!std::isfinite(ks[i])) return invalid("strikes must be finite and > 0");
        if (!(vols[i] > 0.0) || !std::isfinite(vols[i])) return invalid("vols must be finite and > 0");
        if (!weights.empty()) {
            if (!(weights[i] >= 0.0) || !std::isfinite(weights[i])) return invalid("weights must be finite and >= 0");
            weight[i] = weights[i];
        }
        w[i] = vols[i] * vols[i] * t;
        k_lo = std::min(k_lo, ks[i]);
        k_hi = std::max(k_hi, ks[i]);
    }
    const double span = std::max(k_hi - k_lo, 1e-4);
    const Slice slice{ks, w, weight};

    // Coarse grid over (m, sigma), then Levenberg-Marquardt on the projected residuals.
    double best_m = 0.0, best_s = span, best_cost = std::numeric_limits<double>::infinity();
    for (int i = 0; i <= 8; ++i) {
        if (cancel.poll()) return cancelled();
        const double m = k_lo + (k_hi - k_lo) * static_cast<double>(i) / 8.0;
        for (int j = 0; j < 8; ++j) {
            const double sig = span * 0.02 * quelm::pow(2.0, static_cast<double>(j));
            const Inner in = inner_fit(slice, m, sig);
            if (in.cost < best_cost) best_cost = in.cost, best_m = m, best_s = sig;
        }
    }
    const Residuals residuals = [&](std::span<const double> x, std::span<double> r) -> Status {
        const Inner in = inner_fit(slice, x[0], x[1]);
        for (std::size_t i = 0; i < n; ++i) {
            const double y = (ks[i] - x[0]) / x[1];
            r[i] = std::sqrt(weight[i]) * (in.a + in.d * y + in.c * std::sqrt(y * y + 1.0) - w[i]);
        }
        return {};
    };
    const double lo[2] = {k_lo - span, span * 1e-3};
    const double hi[2] = {k_hi + span, span * 10.0};
    LsqSettings settings;
    settings.max_iterations = 100;
    QUELM_TRY(fit, bounded_least_squares(residuals, {best_m, best_s}, lo, hi, n, settings, cancel));
    const Inner in = inner_fit(slice, fit.x[0], fit.x[1]);

    SviFit out{params_from(fit.x[0], fit.x[1], in), 0.0, 0.0, fit.iterations, fit.converged(), std::vector<double>(n), {}};
    for (std::size_t i = 0; i < n; ++i) {
        const double wv = svi_value(out.params, ks[i]).w;
        out.residuals[i] = (wv > 0.0 ? std::sqrt(wv / t) : kNaN) - vols[i];
    }
    const FitErrors errors = fit_errors(out.residuals, weight);
    out.rmse = errors.rmse;
    out.max_error = errors.max_error;
    out.butterfly = check_butterfly(out.params, k_lo - span / 2.0, k_hi + span / 2.0);
    return out;
}

Result<SviFit> svi_calibrate(double forward, std::span<const double> strikes, std::span<const double> vols, double t,
                             std::span<const double> weights, Cancel& cancel) {
    if (!(forward > 0.0) || !std::isfinite(forward)) return invalid("forward must be finite and > 0");
    std::vector<double> ks(strikes.size());
    for (std::size_t i = 0; i < ks.size(); ++i) {
        if (!(strikes[i] > 0.0) || !std::isfinite(strikes[i])) return invalid("strikes must be finite and > 0");
        ks[i] = quelm::log(strikes[i] / forward);
    }
    return svi_fit(ks, vols, t, weights, cancel);
}

}  // namespace quelm::volatility

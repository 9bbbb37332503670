#include "quelm/portfolio/optimize.hpp"

#include <cmath>
#include <limits>

#include "quelm/core/math/linalg.hpp"

namespace quelm::portfolio {

namespace {

Result<std::size_t> check_square(CovRows cov) {
    const std::size_t n = cov.size();
    bool ok = n != 0;
    for (std::size_t i = 0; ok && i < n; ++i) ok = cov[i].size() == n;
    if (!ok) return invalid("optimize: covariance must be a non-empty square matrix");
    return n;
}

double sum(std::span<const double> v) {
    double s = -0.0;
    for (const double x : v) s += x;
    return s;
}

std::vector<double> scaled(std::vector<double> v, double divisor) {
    for (double& x : v) x = x / divisor;
    return v;
}

}  // namespace

Result<std::size_t> check(CovRows cov, std::span<const double> mean) {
    QUELM_TRY(n, check_square(cov));
    if (mean.size() != n) return invalid("optimize: mean length must match covariance order");
    return n;
}

namespace {

// The three portfolios from the solves Σ⁻¹1 (x), Σ⁻¹(μ - rf) (z) and Σ⁻¹μ (y).
Result<std::vector<double>> min_variance_from(std::vector<double> x) {
    const double s = sum(x);
    if (s == 0.0) return numerical("min_variance_weights: 1ᵀΣ⁻¹1 is zero");
    return scaled(std::move(x), s);
}

Result<std::vector<double>> tangency_from(std::vector<double> z) {
    const double s = sum(z);
    if (s == 0.0) return numerical("tangency_weights: excess-return weights sum to zero");
    return scaled(std::move(z), s);
}

Result<std::vector<double>> frontier_from(const std::vector<double>& x, const std::vector<double>& y,
                                          std::span<const double> mean, double target) {
    const std::size_t n = x.size();
    const double a = sum(x);
    const double b = sum(y);
    double c = -0.0;
    for (std::size_t i = 0; i < n; ++i) c += mean[i] * y[i];
    const double d = a * c - b * b;
    // Equal means make AC = B^2 in exact arithmetic; what the solves leave is rounding,
    // so a determinant within a few ulps of its terms counts as zero.
    const double ulps = 16.0 * static_cast<double>(n) * std::numeric_limits<double>::epsilon();
    const double rounding = ulps * (std::fabs(a * c) + b * b);
    if (std::fabs(d) <= rounding) return numerical("efficient_frontier_point: degenerate frontier (AC − B² = 0)");
    const double lambda = (c - target * b) / d;
    const double gamma = (a * target - b) / d;
    std::vector<double> w(n);
    for (std::size_t i = 0; i < n; ++i) w[i] = y[i] * gamma + x[i] * lambda;
    return w;
}

}  // namespace

Result<std::vector<double>> min_variance_weights(CovRows cov, Cancel& cancel) {
    QUELM_TRY(n, check_square(cov));
    const std::vector<double> ones(n, 1.0);
    QUELM_TRY(x, solve_linear_system(cov, ones, cancel));
    return min_variance_from(std::move(x));
}

Result<std::vector<double>> tangency_weights(CovRows cov, std::span<const double> mean, double rf, Cancel& cancel) {
    QUELM_TRY(n, check(cov, mean));
    std::vector<double> excess(n);
    for (std::size_t i = 0; i < n; ++i) excess[i] = mean[i] - rf;
    QUELM_TRY(z, solve_linear_system(cov, excess, cancel));
    return tangency_from(std::move(z));
}

Result<std::vector<double>> efficient_frontier_point(CovRows cov, std::span<const double> mean, double target,
                                                     Cancel& cancel) {
    QUELM_TRY(n, check(cov, mean));
    const std::vector<double> ones(n, 1.0);
    QUELM_TRY(x, solve_linear_system(cov, ones, cancel));
    QUELM_TRY(y, solve_linear_system(cov, mean, cancel));
    return frontier_from(x, y, mean, target);
}

Result<Optimal> optimize(CovRows cov, std::span<const double> mean, double rf, std::optional<double> target,
                         Cancel& cancel) {
    // One elimination for every right-hand side: each solution has the bits of its own
    // solve, so the three portfolios are the single functions' to the last bit.
    QUELM_TRY(n, check_square(cov));
    const std::vector<double> ones(n, 1.0);
    if (mean.size() != n) {
        // The minimum-variance portfolio needs no means; its own errors come first.
        QUELM_TRY(x, solve_linear_system(cov, ones, cancel));
        QUELM_TRY(m, min_variance_from(std::move(x)));
        (void)m;
        if (cancel.stopped()) return cancelled();
        QUELM_CHECK(check(cov, mean));
    }
    std::vector<double> excess(n);
    for (std::size_t i = 0; i < n; ++i) excess[i] = mean[i] - rf;
    std::vector<std::span<const double>> rhs{ones, excess};
    if (target) rhs.emplace_back(mean);
    QUELM_TRY(solved, solve_linear_systems(cov, rhs, cancel));
    if (cancel.stopped()) return cancelled();
    QUELM_TRY(m, min_variance_from(solved[0]));
    QUELM_TRY(t, tangency_from(std::move(solved[1])));
    Optimal out{std::move(m), std::move(t), std::nullopt};
    if (target) {
        QUELM_TRY(f, frontier_from(solved[0], solved[2], mean, *target));
        out.frontier = std::move(f);
    }
    return out;
}

Result<Optimal> optimize(CovRows cov, std::span<const double> mean, double rf, std::optional<double> target,
                         const std::optional<WeightBounds>& bounds, Cancel& cancel) {
    if (!bounds) return optimize(cov, mean, rf, target, cancel);
    QUELM_TRY(n, check_square(cov));
    QUELM_TRY(b, expand_bounds(*bounds, n));
    // Σ balanced and factored once for the three programs; the tangency program starts from
    // the minimum-variance portfolio, the frontier point from the other two.
    QUELM_TRY(prepared, prepare_bounded(cov));
    QUELM_TRY(m, bounded_min_variance(prepared, b, cancel));
    if (cancel.stopped()) return cancelled();
    QUELM_CHECK(check(cov, mean));
    QUELM_TRY(t, bounded_tangency(prepared, mean, rf, b, m, cancel));
    if (cancel.stopped()) return cancelled();
    Optimal out{std::move(m), std::move(t), std::nullopt};
    if (target) {
        const std::span<const double> near[] = {out.min_variance, out.tangency};
        QUELM_TRY(f, bounded_frontier_point(prepared, mean, *target, b, near, cancel));
        out.frontier = std::move(f);
    }
    return out;
}

}  // namespace quelm::portfolio

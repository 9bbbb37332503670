#include "quelm/portfolio/active_set.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "quelm/core/math/linalg.hpp"

namespace quelm::portfolio {

namespace {

constexpr double kEps = std::numeric_limits<double>::epsilon();

// Σ's symmetric part, scaled to a largest entry of 1 (the portfolios do not change with the
// scale of Σ, and the KKT system is better balanced against the constraint rows).
std::vector<std::vector<double>> balanced(std::span<const std::span<const double>> cov) {
    const std::size_t n = cov.size();
    std::vector<std::vector<double>> s(n, std::vector<double>(n));
    double top = 0.0;
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j < n; ++j) {
            s[i][j] = 0.5 * cov[i][j] + 0.5 * cov[j][i];
            top = std::max(top, std::fabs(s[i][j]));
        }
    if (top > 0.0 && std::isfinite(top))
        for (auto& row : s)
            for (double& v : row) v = v / top;
    return s;
}

// The bound an asset is held at (0 when free).
double bound_of(const BudgetQp& qp, Held h, std::size_t i) {
    return h == Held::Lower ? qp.lower[i] : h == Held::Upper ? qp.upper[i] : 0.0;
}

// The minimiser with the held assets at their bounds, and the rows' multipliers.
struct EqualitySolution {
    std::vector<double> y;
    double kappa = 0.0;
    std::vector<double> nu;  // one per row of `rows`
};

// Minimises ½ yᵀSy over the free assets and κ (held assets: y_i = b_i κ) subject to the
// rows, through the KKT system  [H  -Aᵀ; A  0] [u; ν] = [0; r]  with u = (y_free, κ).
Result<EqualitySolution> solve_held(const std::vector<std::vector<double>>& s, const BudgetQp& qp,
                                    const std::vector<QpRow>& rows, const std::vector<Held>& held, Cancel& cancel) {
    const std::size_t n = s.size();
    std::vector<std::size_t> free;
    std::vector<double> b(n, 0.0);
    for (std::size_t i = 0; i < n; ++i) {
        if (held[i] == Held::Free) free.push_back(i);
        b[i] = bound_of(qp, held[i], i);
    }
    std::vector<double> sb(n, -0.0);  // S b
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j < n; ++j)
            if (b[j] != 0.0) sb[i] += s[i][j] * b[j];
    double bsb = -0.0;
    for (std::size_t i = 0; i < n; ++i) bsb += b[i] * sb[i];

    const std::size_t m = free.size() + 1, k = rows.size(), size = m + k;
    std::vector<std::vector<double>> kkt(size, std::vector<double>(size + 1, 0.0));
    for (std::size_t a = 0; a < free.size(); ++a) {
        for (std::size_t c = 0; c < free.size(); ++c) kkt[a][c] = s[free[a]][free[c]];
        kkt[a][m - 1] = sb[free[a]];
        kkt[m - 1][a] = sb[free[a]];
    }
    kkt[m - 1][m - 1] = bsb;
    for (std::size_t r = 0; r < k; ++r) {
        double on_kappa = rows[r].kappa;
        for (std::size_t i = 0; i < n; ++i)
            if (held[i] != Held::Free) on_kappa += rows[r].y[i] * b[i];
        for (std::size_t a = 0; a < free.size(); ++a) {
            kkt[m + r][a] = rows[r].y[free[a]];
            kkt[a][m + r] = -rows[r].y[free[a]];
        }
        kkt[m + r][m - 1] = on_kappa;
        kkt[m - 1][m + r] = -on_kappa;
        kkt[m + r][size] = rows[r].rhs;
    }
    double scale = 0.0;
    for (const auto& row : kkt)
        for (const double v : row) scale = std::max(scale, std::fabs(v));
    const double floor = std::max(1e-300, static_cast<double>(size) * kEps * scale);
    QUELM_TRY(u, gaussian_solve(std::move(kkt), size, floor, cancel));

    EqualitySolution out;
    out.kappa = u[m - 1];
    out.y.assign(n, 0.0);
    for (std::size_t i = 0; i < n; ++i) out.y[i] = b[i] * out.kappa;
    for (std::size_t a = 0; a < free.size(); ++a) out.y[free[a]] = u[a];
    out.nu.assign(u.begin() + static_cast<std::ptrdiff_t>(m), u.end());
    return out;
}

// Room left before asset i reaches a bound along the step from (y, κ) to (to_y, to_κ), as a
// fraction of the step (infinity when the step moves away from both), and which bound it
// reaches. A step towards a bound by no more than rounding does not count: the minimiser
// already sits on it, and holding that bound too would make the equations dependent.
// `size` is the largest holding at either end of the step, the scale of its rounding.
double room(const BudgetQp& qp, std::size_t i, double y, double kappa, double to_y, double to_kappa, double size,
            Held& reached) {
    const double dy = to_y - y, dkappa = to_kappa - kappa;
    const auto rounding = [&](double bound) {
        return 64.0 * kEps * (size + std::fabs(bound) * (std::fabs(kappa) + std::fabs(to_kappa)));
    };
    double best = std::numeric_limits<double>::infinity();
    if (std::isfinite(qp.lower[i])) {
        const double slope = dy - qp.lower[i] * dkappa;
        if (slope < -rounding(qp.lower[i])) {
            best = std::max(y - qp.lower[i] * kappa, 0.0) / -slope;
            reached = Held::Lower;
        }
    }
    if (std::isfinite(qp.upper[i])) {
        const double slope = qp.upper[i] * dkappa - dy;
        if (slope < -rounding(qp.upper[i])) {
            const double a = std::max(qp.upper[i] * kappa - y, 0.0) / -slope;
            if (a < best) {
                best = a;
                reached = Held::Upper;
            }
        }
    }
    return best;
}

}  // namespace

Result<QpPoint> solve_budget_qp(const BudgetQp& qp, std::vector<double> y, double kappa, Cancel& cancel) {
    const std::size_t n = qp.cov.size();
    const std::vector<std::vector<double>> s = balanced(qp.cov);
    std::vector<QpRow> rows = qp.rows;
    rows.push_back({std::vector<double>(n, 1.0), -1.0, 0.0});  // κ = 1ᵀy

    // Assets whose bounds meet are held from the start and never let go.
    std::vector<Held> held(n, Held::Free);
    std::vector<bool> pinned(n, false);
    for (std::size_t i = 0; i < n; ++i)
        if (qp.lower[i] == qp.upper[i]) {
            held[i] = Held::Lower;
            pinned[i] = true;
        }

    // Each pass either adds a bound, or drops one and lowers the objective; a bound is
    // re-added only after the objective fell, so a few passes per asset suffice.
    const std::size_t limit = 50 * (n + 4);
    for (std::size_t pass = 0; pass < limit; ++pass) {
        if (cancel.stopped()) return cancelled();
        QUELM_TRY(eq, solve_held(s, qp, rows, held, cancel));
        // Step towards the minimiser with this working set, up to the first bound met.
        double alpha = 1.0;
        std::size_t blocking = n;
        Held blocked_at = Held::Free;
        const double dkappa = eq.kappa - kappa;
        double size = 0.0;
        for (std::size_t i = 0; i < n; ++i) size = std::max({size, std::fabs(y[i]), std::fabs(eq.y[i])});
        for (std::size_t i = 0; i < n; ++i) {
            if (held[i] != Held::Free) continue;
            Held reached = Held::Free;
            const double a = room(qp, i, y[i], kappa, eq.y[i], eq.kappa, size, reached);
            if (a <= alpha && reached != Held::Free) {
                alpha = a;
                blocking = i;
                blocked_at = reached;
            }
        }
        if (alpha >= 1.0) {
            y = eq.y;
            kappa = eq.kappa;
        } else {
            for (std::size_t i = 0; i < n; ++i) y[i] = y[i] + alpha * (eq.y[i] - y[i]);
            kappa = kappa + alpha * dkappa;
        }
        if (blocking < n) {
            held[blocking] = blocked_at;
            y[blocking] = bound_of(qp, blocked_at, blocking) * kappa;
            continue;
        }
        // At the minimiser: a held bound that pulls the wrong way (negative multiplier) is let go.
        std::vector<double> sy(n, -0.0), pull(n, -0.0);
        for (std::size_t i = 0; i < n; ++i)
            for (std::size_t j = 0; j < n; ++j) sy[i] += s[i][j] * y[j];
        for (std::size_t r = 0; r < rows.size(); ++r)
            for (std::size_t i = 0; i < n; ++i) pull[i] += eq.nu[r] * rows[r].y[i];
        double scale = 0.0;
        for (std::size_t i = 0; i < n; ++i) scale = std::max({scale, std::fabs(sy[i]), std::fabs(pull[i])});
        double worst = -1e3 * kEps * static_cast<double>(n) * scale;
        std::size_t release = n;
        for (std::size_t i = 0; i < n; ++i) {
            if (held[i] == Held::Free || pinned[i]) continue;
            const double lambda = static_cast<double>(held[i]) * -(sy[i] - pull[i]);
            if (lambda < worst) {
                worst = lambda;
                release = i;
            }
        }
        if (release == n) return QpPoint{std::move(y), kappa, std::move(held)};
        held[release] = Held::Free;
    }
    return numerical("optimize: the active-set iteration did not settle");
}

}  // namespace quelm::portfolio

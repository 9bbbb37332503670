#include "quelm/portfolio/active_set.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "quelm/core/math/linalg.hpp"

namespace quelm::portfolio {

namespace {

constexpr double kEps = std::numeric_limits<double>::epsilon();

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

// What every pass shares: the held bounds b (0 for a free asset), Sb and bᵀSb, and each
// row's coefficient of κ once the held assets are y_i = b_i κ.
struct HeldTerms {
    std::vector<double> b, sb, on_kappa;
    double bsb = 0.0;
    std::vector<std::size_t> nonzero;  // the assets with b_i != 0, in order
};

void held_terms(const QpCov& cov, const BudgetQp& qp, const std::vector<QpRow>& rows, const std::vector<Held>& held,
                HeldTerms& t) {
    const std::size_t n = cov.n;
    t.nonzero.clear();
    for (std::size_t i = 0; i < n; ++i) {
        t.b[i] = bound_of(qp, held[i], i);
        if (t.b[i] != 0.0) t.nonzero.push_back(i);
    }
    for (std::size_t i = 0; i < n; ++i) {
        const double* si = cov.s.data() + i * n;
        double v = -0.0;
        for (const std::size_t j : t.nonzero) v += si[j] * t.b[j];
        t.sb[i] = v;
    }
    double bsb = -0.0;
    for (std::size_t i = 0; i < n; ++i) bsb += t.b[i] * t.sb[i];
    t.bsb = bsb;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        double on_kappa = rows[r].kappa;
        for (std::size_t i = 0; i < n; ++i)
            if (held[i] != Held::Free) on_kappa += rows[r].y[i] * t.b[i];
        t.on_kappa[r] = on_kappa;
    }
}

// Minimises ½ yᵀSy over the free assets and κ (held assets: y_i = b_i κ) subject to the
// rows, through the whole KKT system  [H  -Aᵀ; A  0] [u; ν] = [0; r]  with u = (y_free, κ)
// by Gaussian elimination: the way that needs S positive definite on the free assets
// only along the rows, for when their Cholesky factor breaks down.
Result<EqualitySolution> solve_whole(const QpCov& cov, const std::vector<QpRow>& rows,
                                     const std::vector<Held>& held, const HeldTerms& t, Cancel& cancel) {
    const std::size_t n = cov.n;
    std::vector<std::size_t> free;
    for (std::size_t i = 0; i < n; ++i)
        if (held[i] == Held::Free) free.push_back(i);
    const std::size_t m = free.size() + 1, k = rows.size(), size = m + k;
    std::vector<std::vector<double>> kkt(size, std::vector<double>(size + 1, 0.0));
    for (std::size_t a = 0; a < free.size(); ++a) {
        for (std::size_t c = 0; c < free.size(); ++c) kkt[a][c] = cov.s[free[a] * n + free[c]];
        kkt[a][m - 1] = t.sb[free[a]];
        kkt[m - 1][a] = t.sb[free[a]];
    }
    kkt[m - 1][m - 1] = t.bsb;
    for (std::size_t r = 0; r < k; ++r) {
        for (std::size_t a = 0; a < free.size(); ++a) {
            kkt[m + r][a] = rows[r].y[free[a]];
            kkt[a][m + r] = -rows[r].y[free[a]];
        }
        kkt[m + r][m - 1] = t.on_kappa[r];
        kkt[m - 1][m + r] = -t.on_kappa[r];
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
    for (std::size_t i = 0; i < n; ++i) out.y[i] = t.b[i] * out.kappa;
    for (std::size_t a = 0; a < free.size(); ++a) out.y[free[a]] = u[a];
    out.nu.assign(u.begin() + static_cast<std::ptrdiff_t>(m), u.end());
    return out;
}

// The same system through the Cholesky factor of S on the free assets: with X = S⁻¹Aᵀ and
// g = S⁻¹(Sb) on the free assets, y_free = Xν - gκ, and (ν, κ) solve the small system
//   [A X   q] [ν]   [r]      q = a_κ - A g,
//   [-qᵀ   δ] [κ] = [0],     δ = bᵀSb - (Sb)ᵀg,
// one row per constraint and one for κ. False (nothing written) when that system is
// singular to rounding; the caller then solves the whole system.
struct Schur {
    std::vector<double> x, a, small;  // [X g] (n x (k + 1)), the free rows A (k x n), the small system
};

bool solve_factored(const QpCov& cov, const SubsetCholesky& f, const std::vector<QpRow>& rows, const HeldTerms& t,
                    Schur& w, EqualitySolution& out) {
    const std::size_t n = cov.n, k = rows.size(), size = k + 1;
    const std::span<const std::size_t> free = f.subset();
    const std::size_t m = free.size();
    // X's columns and g side by side: row c holds X[c][0 .. k - 1] and g[c].
    const std::size_t width = k + 1;
    for (std::size_t r = 0; r < k; ++r) {
        double* a = w.a.data() + r * n;
        for (std::size_t c = 0; c < m; ++c) a[c] = w.x[c * width + r] = rows[r].y[free[c]];
    }
    for (std::size_t c = 0; c < m; ++c) w.x[c * width + k] = t.sb[free[c]];
    f.solve_many({w.x.data(), m * width}, width);
    double* sm = w.small.data();  // size x (size + 1), row-major
    const std::size_t cols = size + 1;
    for (std::size_t r = 0; r < k; ++r) {
        const double* a = w.a.data() + r * n;
        for (std::size_t c = 0; c < k; ++c) {
            double v = -0.0;
            for (std::size_t j = 0; j < m; ++j) v += a[j] * w.x[j * width + c];
            sm[r * cols + c] = v;
        }
        double ag = -0.0;
        for (std::size_t j = 0; j < m; ++j) ag += a[j] * w.x[j * width + k];
        const double q = t.on_kappa[r] - ag;
        sm[r * cols + k] = q;
        sm[k * cols + r] = -q;
        sm[r * cols + size] = rows[r].rhs;
    }
    double cg = -0.0;
    for (std::size_t j = 0; j < m; ++j) cg += t.sb[free[j]] * w.x[j * width + k];
    sm[k * cols + k] = t.bsb - cg;
    sm[k * cols + size] = 0.0;
    double scale = 0.0;
    for (std::size_t i = 0; i < size * cols; ++i) scale = std::max(scale, std::fabs(sm[i]));
    const double floor = 64.0 * static_cast<double>(size) * kEps * scale;
    // Gaussian elimination with partial pivoting on the small system.
    for (std::size_t c = 0; c < size; ++c) {
        std::size_t pivot = c;
        for (std::size_t r = c + 1; r < size; ++r)
            if (std::fabs(sm[r * cols + c]) > std::fabs(sm[pivot * cols + c])) pivot = r;
        if (!(std::fabs(sm[pivot * cols + c]) > floor)) return false;
        if (pivot != c)
            for (std::size_t j = c; j < cols; ++j) std::swap(sm[c * cols + j], sm[pivot * cols + j]);
        for (std::size_t r = c + 1; r < size; ++r) {
            const double factor = sm[r * cols + c] / sm[c * cols + c];
            if (factor == 0.0) continue;
            for (std::size_t j = c; j < cols; ++j) sm[r * cols + j] -= factor * sm[c * cols + j];
        }
    }
    for (std::size_t r = size; r-- > 0;) {
        double v = sm[r * cols + size];
        for (std::size_t j = r + 1; j < size; ++j) v -= sm[r * cols + j] * sm[j * cols + size];
        sm[r * cols + size] = v / sm[r * cols + r];
    }
    const double kappa = sm[k * cols + size];
    if (!std::isfinite(kappa)) return false;
    out.kappa = kappa;
    out.nu.resize(k);
    for (std::size_t r = 0; r < k; ++r) out.nu[r] = sm[r * cols + size];
    out.y.resize(n);
    for (std::size_t i = 0; i < n; ++i) out.y[i] = t.b[i] * kappa;
    for (std::size_t c = 0; c < m; ++c) {
        const double* xc = w.x.data() + c * width;
        double v = -(xc[k] * kappa);
        for (std::size_t r = 0; r < k; ++r) v += xc[r] * out.nu[r];
        out.y[free[c]] = v;
    }
    return true;
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

QpCov::QpCov(std::span<const std::span<const double>> cov) : n(cov.size()), s(n * n), full(s, n) {
    // Σ's symmetric part, scaled to a largest entry of 1 (the portfolios do not change with
    // the scale of Σ, and the KKT system is better balanced against the constraint rows).
    double top = 0.0;
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j < n; ++j) {
            const double v = 0.5 * cov[i][j] + 0.5 * cov[j][i];
            s[i * n + j] = v;
            top = std::max(top, std::fabs(v));
        }
    if (top > 0.0 && std::isfinite(top))
        for (double& v : s) v = v / top;
    std::vector<std::size_t> all(n);
    for (std::size_t i = 0; i < n; ++i) all[i] = i;
    if (top > 0.0 && std::isfinite(top)) full.factor(all);
}

Result<QpPoint> solve_budget_qp(const BudgetQp& qp, std::vector<double> y, double kappa, Cancel& cancel) {
    const QpCov cov(qp.cov);
    return solve_budget_qp(qp, cov, std::move(y), kappa, {}, cancel);
}

Result<QpPoint> solve_budget_qp(const BudgetQp& qp, const QpCov& cov, std::vector<double> y, double kappa,
                                std::vector<Held> held, Cancel& cancel) {
    const std::size_t n = cov.n;
    const std::vector<double>& s = cov.s;
    std::vector<QpRow> rows = qp.rows;
    rows.push_back({std::vector<double>(n, 1.0), -1.0, 0.0});  // κ = 1ᵀy

    // A given first working set starts exactly at its bounds.
    if (held.size() != n) held.assign(n, Held::Free);
    for (std::size_t i = 0; i < n; ++i)
        if (held[i] != Held::Free) y[i] = bound_of(qp, held[i], i) * kappa;
    // Assets whose bounds meet are held from the start and never let go.
    std::vector<bool> pinned(n, false);
    for (std::size_t i = 0; i < n; ++i)
        if (qp.lower[i] == qp.upper[i]) {
            held[i] = Held::Lower;
            pinned[i] = true;
        }

    // The factor of S on the free assets follows the working set a bound at a time; when
    // it breaks down (S singular there) each pass tries a new one, else solves the whole system.
    SubsetCholesky factor(s, n);
    {
        std::vector<std::size_t> free;
        for (std::size_t i = 0; i < n; ++i)
            if (held[i] == Held::Free) free.push_back(i);
        // A few held assets are cheaper taken out of Σ's own factor (the last first, each
        // O(n²)) than a new factor of the rest (O(n³)).
        const std::size_t held_count = n - free.size();
        if (cov.full.usable() && 8 * held_count <= n) {
            factor.assign(cov.full);
            for (std::size_t i = n; i-- > 0;)
                if (held[i] != Held::Free) factor.remove(i);
        } else {
            factor.factor(free);
        }
    }
    HeldTerms terms{std::vector<double>(n), std::vector<double>(n), std::vector<double>(rows.size()), 0.0, {}};
    terms.nonzero.reserve(n);
    Schur schur{std::vector<double>((rows.size() + 1) * n), std::vector<double>(rows.size() * n),
                std::vector<double>((rows.size() + 1) * (rows.size() + 2))};
    EqualitySolution eq;
    std::vector<double> sy(n), pull(n);
    std::vector<std::size_t> free_list;

    // Each pass either adds a bound, or drops one and lowers the objective; a bound is
    // re-added only after the objective fell, so a few passes per asset suffice.
    const std::size_t limit = 50 * (n + 4);
    for (std::size_t pass = 0; pass < limit; ++pass) {
        if (cancel.stopped()) return cancelled();
        held_terms(cov, qp, rows, held, terms);
        if (!factor.usable()) {
            free_list.clear();
            for (std::size_t i = 0; i < n; ++i)
                if (held[i] == Held::Free) free_list.push_back(i);
            factor.factor(free_list);
        }
        if (!factor.usable() || !solve_factored(cov, factor, rows, terms, schur, eq)) {
            QUELM_TRY(whole, solve_whole(cov, rows, held, terms, cancel));
            eq = std::move(whole);
        }
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
        // With no more unknowns (the free assets and κ) than rows, the rows fix the point and
        // the step goes nowhere: a bound it seems to cross is crossed by rounding only, and
        // holding it too would leave more rows than unknowns (a singular system).
        if (blocking < n) {
            std::size_t free_count = 0;
            for (std::size_t i = 0; i < n; ++i) free_count += held[i] == Held::Free ? 1 : 0;
            if (free_count < rows.size()) {
                blocking = n;
                alpha = 1.0;
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
            if (factor.usable()) factor.remove(blocking);
            y[blocking] = bound_of(qp, blocked_at, blocking) * kappa;
            continue;
        }
        // At the minimiser: a held bound that pulls the wrong way (negative multiplier) is let go.
        for (std::size_t i = 0; i < n; ++i) {
            const double* si = s.data() + i * n;
            double v = -0.0;
            for (std::size_t j = 0; j < n; ++j) v += si[j] * y[j];
            sy[i] = v;
            pull[i] = -0.0;
        }
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
        if (factor.usable()) factor.append(release);
    }
    return numerical("optimize: the active-set iteration did not settle");
}

}  // namespace quelm::portfolio

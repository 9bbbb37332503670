#include "quelm/rates/hw_pde.hpp"

#include <algorithm>
#include <cmath>
#include <map>
#include <vector>

#include "quelm/core/math/elementary.hpp"
#include "quelm/core/memory.hpp"
#include "quelm/core/text.hpp"

namespace quelm::rates {

namespace {

using dates::Serial;

// psi(t) = sigma^2 B(0, t)^2 / 2, phi's part beyond the curve's forward.
double psi(double a, double s2, double t) {
    const double b = hw_b(a, 0.0, t);
    return s2 * b * b / 2.0;
}

// The integral of psi over [t0, t1]: Gauss-Legendre of four points (psi is smooth and the
// steps short: exact to rounding).
double psi_integral(double a, double s2, double t0, double t1) {
    static constexpr double node[2] = {0.3399810435848563, 0.8611363115940526};
    static constexpr double weight[2] = {0.6521451548625461, 0.3478548451374538};
    const double mid = (t0 + t1) / 2.0, half = (t1 - t0) / 2.0;
    double sum = 0.0;
    for (int k = 0; k < 2; ++k)
        sum += weight[k] * (psi(a, s2, mid - half * node[k]) + psi(a, s2, mid + half * node[k]));
    return sum * half;
}

// The operator without the short rate's deterministic part, L V = -a x V_x + sigma^2/2 V_xx
// - x V, as tridiagonal rows: (L V)_j = lo_j V_(j-1) + mid_j V_j + up_j V_(j+1). At the edges,
// five deviations out, V is linear in x: no curvature, the drift (pointing inward) read
// one-sided from inside.
struct Rows {
    std::vector<double> lo, mid, up;
};

Rows operator_rows(const std::vector<double>& x, double h, double a, double s2) {
    const std::size_t n = x.size();
    Rows r{std::vector<double>(n), std::vector<double>(n), std::vector<double>(n)};
    for (std::size_t j = 1; j + 1 < n; ++j) {
        const double diffusion = s2 / (2.0 * h * h), drift = -a * x[j] / (2.0 * h);
        r.lo[j] = diffusion - drift;
        r.mid[j] = -2.0 * diffusion - x[j];
        r.up[j] = diffusion + drift;
    }
    const double d0 = -a * x[0] / h, dn = -a * x[n - 1] / h;
    r.lo[0] = 0.0;
    r.mid[0] = -d0 - x[0];
    r.up[0] = d0;
    r.lo[n - 1] = -dn;
    r.mid[n - 1] = dn - x[n - 1];
    r.up[n - 1] = 0.0;
    return r;
}

// The transposed rows: (L^T V)_j = up_(j-1) V_(j-1) + mid_j V_j + lo_(j+1) V_(j+1).
Rows transposed(const Rows& r) {
    const std::size_t n = r.mid.size();
    Rows t{std::vector<double>(n, 0.0), r.mid, std::vector<double>(n, 0.0)};
    for (std::size_t j = 1; j < n; ++j) t.lo[j] = r.up[j - 1];
    for (std::size_t j = 0; j + 1 < n; ++j) t.up[j] = r.lo[j + 1];
    return t;
}

// Solves (I - w L) V = rhs in place (Thomas; the system is diagonally dominant).
void solve(const Rows& r, double w, std::vector<double>& v, std::vector<double>& scratch) {
    const std::size_t n = v.size();
    scratch.resize(n);
    double m = 1.0 - w * r.mid[0];
    scratch[0] = -w * r.up[0] / m;
    v[0] /= m;
    for (std::size_t j = 1; j < n; ++j) {
        const double l = -w * r.lo[j];
        m = 1.0 - w * r.mid[j] - l * scratch[j - 1];
        scratch[j] = -w * r.up[j] / m;
        v[j] = (v[j] - l * v[j - 1]) / m;
    }
    for (std::size_t j = n - 1; j-- > 0;) v[j] -= scratch[j] * v[j + 1];
}

// out = (I + w L) V.
void apply(const Rows& r, double w, const std::vector<double>& v, std::vector<double>& out) {
    const std::size_t n = v.size();
    out.resize(n);
    out[0] = v[0] + w * (r.mid[0] * v[0] + r.up[0] * v[1]);
    for (std::size_t j = 1; j + 1 < n; ++j) out[j] = v[j] + w * (r.lo[j] * v[j - 1] + r.mid[j] * v[j] + r.up[j] * v[j + 1]);
    out[n - 1] = v[n - 1] + w * (r.lo[n - 1] * v[n - 2] + r.mid[n - 1] * v[n - 1]);
}

// The levels: the reference date, the exercise dates and whole days spread in proportion
// between them, `steps` in all (at most one a day).
std::vector<Serial> levels_of(Serial reference, const std::vector<Serial>& exercises, std::size_t steps) {
    const double per_step = static_cast<double>(exercises.back() - reference) / static_cast<double>(steps);
    std::vector<Serial> out{reference};
    for (const Serial e : exercises) {
        const Serial from = out.back();
        const auto span = static_cast<double>(e - from);
        const auto n = std::max<long long>(1, std::llround(span / per_step));
        for (long long k = 1; k < n; ++k) {
            const auto d = from + static_cast<Serial>(std::llround(span * static_cast<double>(k) / static_cast<double>(n)));
            if (d > out.back() && d < e) out.push_back(d);
        }
        out.push_back(e);
    }
    return out;
}

}  // namespace

Result<PdeValue> hw_bermudan_pde_value(const HullWhite& m, const BermudanSwaption& b, std::size_t steps,
                                       bool with_slopes, Cancel& cancel) {
    QUELM_CHECK(check(m));
    QUELM_CHECK(check(b));
    if (steps < 10 || steps > 100000)
        return invalid("HullWhite: steps must be in [10, 100000] with method=\"pde\", got " + std::to_string(steps));
    if (!m.curve.dating().reference) return invalid("HullWhite: needs a curve with a reference date (the trade date)");
    QUELM_TRY(leg, fixed_leg(b));
    const Serial reference = *m.curve.dating().reference;
    if (!(leg.exercises.front() > reference))
        return invalid(describe(b) + ": the first exercise date is not after the curve's reference date " +
                       dates::format_iso(reference));
    const std::vector<Serial> level = levels_of(reference, leg.exercises, steps);
    const std::size_t n = level.size() - 1;
    std::vector<double> t(n + 1), p(n + 1);
    std::vector<char> exercise(n + 1, 0);
    for (std::size_t k = 0; k <= n; ++k) {
        QUELM_TRY(tk, m.curve.time_of(level[k]));
        QUELM_TRY(pk, m.curve.discount_on(level[k]));
        t[k] = tk;
        p[k] = pk;
        exercise[k] = std::binary_search(leg.exercises.begin(), leg.exercises.end(), level[k]) ? 1 : 0;
    }
    // The fixed leg's flows (the face with the last) at their payment dates.
    const std::size_t flows = leg.ends.size();
    std::vector<double> pay_t(flows), pay_p(flows), amount(flows);
    for (std::size_t i = 0; i < flows; ++i) {
        QUELM_TRY(ti, m.curve.time_of(leg.ends[i]));
        QUELM_TRY(pi, m.curve.discount_on(leg.ends[i]));
        pay_t[i] = ti;
        pay_p[i] = pi;
        amount[i] = b.strike * leg.accruals[i] + (i + 1 == flows ? 1.0 : 0.0);
    }

    const std::size_t half = steps, points = 2 * half + 1;
    QUELM_CHECK(check_fits_in_memory(
        doubles_bytes(10.0 * static_cast<double>(points) +
                      (with_slopes ? 2.0 * static_cast<double>(points) * static_cast<double>(n + 1) : 0.0)),
        "the grid"));
    const double a = m.a, s2 = m.sigma * m.sigma;
    const double horizon = t[n];
    const double deviation = m.sigma * std::sqrt(horizon * one_minus_exp_over(2.0 * a * horizon));
    const double h = 5.0 * deviation / static_cast<double>(half);
    std::vector<double> x(points);
    for (std::size_t j = 0; j < points; ++j) x[j] = (static_cast<double>(j) - static_cast<double>(half)) * h;
    const Rows rows = operator_rows(x, h, a, s2);

    // Each step's scale: P(t_(k+1)) / P(t_k) e^(-integral of psi).
    std::vector<double> scale(n);
    for (std::size_t k = 0; k < n; ++k) scale[k] = p[k + 1] / p[k] * quelm::exp(-psi_integral(a, s2, t[k], t[k + 1]));
    // A zero bond at an exercise level, per node: P(T) / P(t) e^(-B^2 V(t) / 2 - B psi(t)) e^(-B x).
    const auto bond_shape = [&](std::size_t k, std::size_t i, std::vector<double>& shape) {
        const double bb = hw_b(a, t[k], pay_t[i]);
        const double var = s2 * t[k] * one_minus_exp_over(2.0 * a * t[k]);
        const double c = quelm::exp(-bb * bb * var / 2.0 - bb * psi(a, s2, t[k]));
        shape.resize(points);
        for (std::size_t j = 0; j < points; ++j) shape[j] = c * quelm::exp(-bb * x[j]);
    };
    const auto live = [&](std::size_t k, std::size_t i) { return leg.starts[i] >= level[k]; };
    const double theta = b.kind == SwaptionKind::Payer ? 1.0 : -1.0;

    // Backward: v at each level; with slopes, each level's held value and where it exercised.
    std::vector<double> v(points, 0.0), w, scratch, fixed_value(points), shape;
    std::vector<std::vector<double>> held(with_slopes ? n + 1 : 0);
    std::vector<std::vector<char>> exercised(with_slopes ? n + 1 : 0);
    CancelPoller poll(cancel);
    for (std::size_t k = n + 1; k-- > 0;) {
        if (k < n) {
            const double dt = t[k + 1] - t[k];
            apply(rows, dt / 2.0, v, w);
            solve(rows, dt / 2.0, w, scratch);
            for (std::size_t j = 0; j < points; ++j) v[j] = scale[k] * w[j];
        }
        if (with_slopes) held[k] = v;
        if (exercise[k]) {
            std::fill(fixed_value.begin(), fixed_value.end(), 0.0);
            for (std::size_t i = 0; i < flows; ++i) {
                if (!live(k, i)) continue;
                bond_shape(k, i, shape);
                const double c = amount[i] * pay_p[i] / p[k];
                for (std::size_t j = 0; j < points; ++j) fixed_value[j] += c * shape[j];
            }
            if (with_slopes) exercised[k].assign(points, 0);
            for (std::size_t j = 0; j < points; ++j) {
                const double enter = theta * (1.0 - fixed_value[j]);
                if (enter > v[j]) {
                    v[j] = enter;
                    if (with_slopes) exercised[k][j] = 1;
                }
            }
        }
        if (poll.tick(points)) return cancelled();
    }
    PdeValue out;
    out.value = b.notional * v[half];
    if (!with_slopes) return out;

    // Forward: the adjoint of each level's values (d value / d v_k), and through it the
    // value's derivative in each discount factor it read.
    std::map<Serial, double> slope;
    const Rows rows_t = transposed(rows);
    std::vector<double> lambda(points, 0.0), through;
    lambda[half] = b.notional;
    for (std::size_t k = 0; k <= n; ++k) {
        if (exercise[k]) {
            // Where it exercised, v = theta (1 - sum c_i P(T_i) / P(t_k) shape_i).
            for (std::size_t i = 0; i < flows; ++i) {
                if (!live(k, i)) continue;
                bond_shape(k, i, shape);
                double sum = 0.0;
                for (std::size_t j = 0; j < points; ++j)
                    if (exercised[k][j]) sum += lambda[j] * shape[j];
                const double d_bond = -theta * amount[i] * sum;  // d value / d (P(T_i) / P(t_k))
                slope[leg.ends[i]] += d_bond / p[k];
                slope[level[k]] -= d_bond * pay_p[i] / (p[k] * p[k]);
            }
            for (std::size_t j = 0; j < points; ++j)
                if (exercised[k][j]) lambda[j] = 0.0;
        }
        if (k == n) break;
        // v_k = scale_k M v_(k+1), M = (I - w L)^-1 (I + w L): the scale's part, then M^T.
        double d_scale = 0.0;
        for (std::size_t j = 0; j < points; ++j) d_scale += lambda[j] * held[k][j];
        d_scale /= scale[k];
        slope[level[k + 1]] += d_scale * scale[k] / p[k + 1];
        slope[level[k]] -= d_scale * scale[k] / p[k];
        const double dt = t[k + 1] - t[k];
        for (std::size_t j = 0; j < points; ++j) lambda[j] *= scale[k];
        solve(rows_t, dt / 2.0, lambda, scratch);
        apply(rows_t, dt / 2.0, lambda, through);
        lambda.swap(through);
        if (poll.tick(points)) return cancelled();
    }
    slope.erase(reference);  // today's discount factor is 1 on every curve
    for (const auto& [date, amount_at] : slope) out.slopes.push_back({date, amount_at});
    return out;
}

Result<double> hw_bermudan_pde(const HullWhite& m, const BermudanSwaption& b, std::size_t steps, Cancel& cancel) {
    QUELM_TRY(v, hw_bermudan_pde_value(m, b, steps, false, cancel));
    return v.value;
}

}  // namespace quelm::rates

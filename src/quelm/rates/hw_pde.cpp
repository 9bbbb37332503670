#include "quelm/rates/hw_pde.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "quelm/core/math/elementary.hpp"
#include "quelm/core/memory.hpp"
#include "quelm/core/text.hpp"

namespace quelm::rates {

namespace {

// (1 - e^(-x)) / x without cancellation near 0.
double one_minus_exp_over(double x) { return x == 0.0 ? 1.0 : -quelm::expm1(-x) / x; }

// The operator's tridiagonal rows at one time: L V_j = lo_j V_(j-1) + mid_j V_j + up_j V_(j+1).
struct Rows {
    std::vector<double> lo, mid, up;
};

void fill_rows(Rows& r, const std::vector<double>& x, double h, double a, double s2, double phi) {
    const std::size_t n = x.size();
    for (std::size_t j = 1; j + 1 < n; ++j) {
        const double diffusion = s2 / (2.0 * h * h), drift = -a * x[j] / (2.0 * h);
        r.lo[j] = diffusion - drift;
        r.mid[j] = -2.0 * diffusion - (x[j] + phi);
        r.up[j] = diffusion + drift;
    }
    // At the edges, six deviations out, the value is linear in x: no curvature, and the
    // drift (pointing inward) read one-sided from inside.
    const double d0 = -a * x[0] / h, dn = -a * x[n - 1] / h;
    r.lo[0] = 0.0;
    r.mid[0] = -d0 - (x[0] + phi);
    r.up[0] = d0;
    r.lo[n - 1] = -dn;
    r.mid[n - 1] = dn - (x[n - 1] + phi);
    r.up[n - 1] = 0.0;
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

// rhs = (I + w L) V.
void explicit_part(const Rows& r, double w, const std::vector<double>& v, std::vector<double>& out) {
    const std::size_t n = v.size();
    out.resize(n);
    out[0] = v[0] + w * (r.mid[0] * v[0] + r.up[0] * v[1]);
    for (std::size_t j = 1; j + 1 < n; ++j) out[j] = v[j] + w * (r.lo[j] * v[j - 1] + r.mid[j] * v[j] + r.up[j] * v[j + 1]);
    out[n - 1] = v[n - 1] + w * (r.lo[n - 1] * v[n - 2] + r.mid[n - 1] * v[n - 1]);
}

}  // namespace

Result<double> hw_bermudan_pde(const HullWhite& m, const BermudanSwaption& b, std::size_t steps, Cancel& cancel) {
    QUELM_CHECK(check(m));
    QUELM_CHECK(check(b));
    if (steps < 10 || steps > 100000)
        return invalid("HullWhite: steps must be in [10, 100000] with method=\"pde\", got " + std::to_string(steps));
    if (!m.curve.dating().reference) return invalid("HullWhite: needs a curve with a reference date (the trade date)");
    QUELM_TRY(leg, fixed_leg(b));
    const dates::Serial reference = *m.curve.dating().reference;
    if (!(leg.exercises.front() > reference))
        return invalid(describe(b) + ": the first exercise date is not after the curve's reference date " +
                       dates::format_iso(reference));
    std::vector<double> ex_t, pay_t, start_t;
    for (const dates::Serial d : leg.exercises) {
        QUELM_TRY(t, m.curve.time_of(d));
        ex_t.push_back(t);
    }
    for (std::size_t i = 0; i < leg.ends.size(); ++i) {
        QUELM_TRY(t, m.curve.time_of(leg.ends[i]));
        QUELM_TRY(s, m.curve.time_of(leg.starts[i]));
        pay_t.push_back(t);
        start_t.push_back(s);
    }
    // Time grid: 0, the exercise dates, and steps spread in proportion between them.
    const double horizon = ex_t.back();
    const double dt_max = horizon / static_cast<double>(steps);
    std::vector<double> grid{0.0};
    std::vector<char> exercise{0};
    for (std::size_t i = 0; i < ex_t.size(); ++i) {
        const double from = grid.back(), span = ex_t[i] - from;
        const auto n = std::max<std::size_t>(1, static_cast<std::size_t>(std::llround(span / dt_max)));
        for (std::size_t k = 1; k < n; ++k) {
            grid.push_back(from + span * static_cast<double>(k) / static_cast<double>(n));
            exercise.push_back(0);
        }
        grid.push_back(ex_t[i]);
        exercise.push_back(1);
    }
    // Space grid: symmetric about x = 0 (today's factor), five deviations of x at the horizon
    // each side, twice as many steps as in time (the space error is the larger at equal steps).
    const std::size_t half = steps, points = 2 * half + 1;
    QUELM_CHECK(check_fits_in_memory(doubles_bytes(10.0 * static_cast<double>(points)), "the grid"));
    const double a = m.a, s2 = m.sigma * m.sigma;
    const double deviation = m.sigma * std::sqrt(horizon * one_minus_exp_over(2.0 * a * horizon));
    const double h = 5.0 * deviation / static_cast<double>(half);
    std::vector<double> x(points);
    for (std::size_t j = 0; j < points; ++j) x[j] = (static_cast<double>(j) - static_cast<double>(half)) * h;

    // The fixed leg and face entered at an exercise time, at every node: sum of c_i P(t, T_i | r),
    // r = x + phi(t), each bond the model's closed form at x = 0 times e^(-B x).
    const double theta = b.kind == SwaptionKind::Payer ? 1.0 : -1.0;
    std::vector<double> v(points, 0.0), rhs, scratch, fixed_leg_value(points);
    const auto exercise_at = [&](double t) -> Status {
        QUELM_TRY(phi, hw_phi(m, t));
        std::fill(fixed_leg_value.begin(), fixed_leg_value.end(), 0.0);
        for (std::size_t i = 0; i < pay_t.size(); ++i) {
            if (start_t[i] < t - 1e-12) continue;
            QUELM_TRY(at_zero, hw_zero_bond(m, t, pay_t[i], phi));
            const double c = b.strike * leg.accruals[i] + (i + 1 == pay_t.size() ? 1.0 : 0.0);
            const double bb = hw_b(a, t, pay_t[i]);
            for (std::size_t j = 0; j < points; ++j) fixed_leg_value[j] += c * at_zero * quelm::exp(-bb * x[j]);
        }
        for (std::size_t j = 0; j < points; ++j) v[j] = std::fmax(v[j], theta * (1.0 - fixed_leg_value[j]));
        return {};
    };
    Rows now{std::vector<double>(points), std::vector<double>(points), std::vector<double>(points)};
    Rows later = now;
    CancelPoller poll(cancel);
    const std::size_t n = grid.size() - 1;
    QUELM_TRY(phi_last, hw_phi(m, grid[n]));
    fill_rows(later, x, h, a, s2, phi_last);
    for (std::size_t i = n; i > 0; --i) {
        if (exercise[i]) QUELM_CHECK(exercise_at(grid[i]));
        const double dt = grid[i] - grid[i - 1];
        QUELM_TRY(phi, hw_phi(m, grid[i - 1]));
        fill_rows(now, x, h, a, s2, phi);
        explicit_part(later, dt / 2.0, v, rhs);
        v.swap(rhs);
        solve(now, dt / 2.0, v, scratch);
        std::swap(now, later);
        if (poll.tick(points)) return cancelled();
    }
    return b.notional * v[half];
}

}  // namespace quelm::rates

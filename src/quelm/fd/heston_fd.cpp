#include "quelm/fd/heston_fd.hpp"

#include <algorithm>
#include <cmath>
#include <span>
#include <vector>

#include "quelm/core/math/elementary.hpp"
#include "quelm/core/memory.hpp"
#include "quelm/fd/grid.hpp"
#include "quelm/fd/tridiagonal.hpp"

namespace quelm::fd {

namespace {

using pricing::BarrierType;
using pricing::ExerciseStyle;

// Three-point weights of the first and second derivatives at an interior node of an uneven
// grid: f'(x_i) ~ w1[0] f_i-1 + w1[1] f_i + w1[2] f_i+1, likewise f''.
struct Stencil {
    double w1[3], w2[3];
};
Stencil stencil(double hm, double hp) {
    const double sum = hm + hp;
    return {{-hp / (hm * sum), (hp - hm) / (hm * hp), hm / (hp * sum)},
            {2.0 / (hm * sum), -2.0 / (hm * hp), 2.0 / (hp * sum)}};
}

// The grid and the split operator's coefficients. Values sit at k = j * nx + i (x fastest).
struct Grid {
    std::vector<double> x, v, spots;
    std::size_t nx = 0, nv = 0;
    std::vector<Stencil> sx, sv;  // per interior node of each axis (index 0 and the last unused)
    double v0_forward[3];         // the one-sided first derivative at v = 0 over nodes 0, 1, 2
};

struct Problem {
    double K, T, r, q;
    volatility::HestonParams p;
    OptionType type;
    bool american;
    bool barrier_low, barrier_high;  // a knock-out edge pays 0
};

double edge_value(const Problem& pr, bool low, double spot, double tau) {
    if ((low && pr.barrier_low) || (!low && pr.barrier_high)) return 0.0;
    const bool in_money = (pr.type == OptionType::Put) == low;
    if (!in_money) return 0.0;
    const double f = spot * quelm::exp(-pr.q * tau), k = pr.K * quelm::exp(-pr.r * tau);
    double value = pr.type == OptionType::Put ? k - f : f - k;
    if (value < 0.0) value = 0.0;
    if (pr.american) value = std::max(value, payoff(pr.type, spot, pr.K));
    return value;
}

// The split operator, built once: A0 the mixed term rho xi v V_xv, A1 the spot direction with
// half the discounting, A2 the variance direction with the other half. Rows at the Dirichlet
// spot edges are zero. A2's row at v = 0 is the one-sided drift kappa theta V_v (three
// nodes), at the top V_v = 0 with the mirrored second difference, central between.
struct Row3 {
    double c[3];
    std::size_t first;  // the node of c[0]
};

struct Operators {
    std::vector<double> l1, d1, u1;  // per node k = j * nx + i
    std::vector<Row3> a2;            // per variance row
    std::vector<double> mixed;       // rho xi v_j per variance row
};

Row3 a2_row(const Problem& pr, const Grid& g, std::size_t j) {
    const double half_r = 0.5 * pr.r;
    if (j == 0) {
        const double e = pr.p.kappa * pr.p.theta;
        return {{e * g.v0_forward[0] - half_r, e * g.v0_forward[1], e * g.v0_forward[2]}, 0};
    }
    const double c = 0.5 * pr.p.xi * pr.p.xi * g.v[j], e = pr.p.kappa * (pr.p.theta - g.v[j]);
    if (j + 1 == g.nv) {
        const double h = g.v[j] - g.v[j - 1];
        return {{2.0 * c / (h * h), -2.0 * c / (h * h) - half_r, 0.0}, j - 1};
    }
    const Stencil& s = g.sv[j];
    return {{c * s.w2[0] + e * s.w1[0], c * s.w2[1] + e * s.w1[1] - half_r, c * s.w2[2] + e * s.w1[2]}, j - 1};
}

Operators build_operators(const Problem& pr, const Grid& g) {
    const std::size_t nx = g.nx, nv = g.nv;
    Operators op{std::vector<double>(nx * nv, 0.0), std::vector<double>(nx * nv, 0.0),
                 std::vector<double>(nx * nv, 0.0), std::vector<Row3>(nv), std::vector<double>(nv)};
    for (std::size_t j = 0; j < nv; ++j) {
        const double a = 0.5 * g.v[j], b = pr.r - pr.q - 0.5 * g.v[j];
        for (std::size_t i = 1; i + 1 < nx; ++i) {
            const Stencil& st = g.sx[i];
            const std::size_t k = j * nx + i;
            op.l1[k] = a * st.w2[0] + b * st.w1[0];
            op.d1[k] = a * st.w2[1] + b * st.w1[1] - 0.5 * pr.r;
            op.u1[k] = a * st.w2[2] + b * st.w1[2];
        }
        op.a2[j] = a2_row(pr, g, j);
        op.mixed[j] = pr.p.rho * pr.p.xi * g.v[j];
    }
    return op;
}

void apply_mixed(const Operators& op, const Grid& g, std::span<const double> u, std::span<double> y) {
    const std::size_t nx = g.nx, nv = g.nv;
    std::fill(y.begin(), y.end(), 0.0);
    for (std::size_t j = 1; j + 1 < nv; ++j) {
        const double c = op.mixed[j];
        const double* below = u.data() + (j - 1) * nx;
        const double* here = u.data() + j * nx;
        const double* above = u.data() + (j + 1) * nx;
        const double wm = g.sv[j].w1[0], wc = g.sv[j].w1[1], wp = g.sv[j].w1[2];
        for (std::size_t i = 1; i + 1 < nx; ++i) {
            const double* w = g.sx[i].w1;
            const double dm = w[0] * below[i - 1] + w[1] * below[i] + w[2] * below[i + 1];
            const double dc = w[0] * here[i - 1] + w[1] * here[i] + w[2] * here[i + 1];
            const double dp = w[0] * above[i - 1] + w[1] * above[i] + w[2] * above[i + 1];
            y[j * nx + i] = c * (wm * dm + wc * dc + wp * dp);
        }
    }
}

void apply_a1(const Operators& op, const Grid& g, std::span<const double> u, std::span<double> y) {
    const std::size_t nx = g.nx;
    for (std::size_t j = 0; j < g.nv; ++j) {
        const std::size_t row = j * nx;
        y[row] = 0.0;
        y[row + nx - 1] = 0.0;
        for (std::size_t k = row + 1; k + 1 < row + nx; ++k)
            y[k] = op.l1[k] * u[k - 1] + op.d1[k] * u[k] + op.u1[k] * u[k + 1];
    }
}

void apply_a2(const Operators& op, const Grid& g, std::span<const double> u, std::span<double> y) {
    const std::size_t nx = g.nx;
    for (std::size_t j = 0; j < g.nv; ++j) {
        const Row3& row = op.a2[j];
        const double* r0 = u.data() + row.first * nx;
        const double* r1 = r0 + nx;
        const double* r2 = j + 1 == g.nv ? nullptr : r1 + nx;
        double* out = y.data() + j * nx;
        out[0] = 0.0;
        out[nx - 1] = 0.0;
        for (std::size_t i = 1; i + 1 < nx; ++i) {
            double s = row.c[0] * r0[i] + row.c[1] * r1[i];
            if (r2 != nullptr) s += row.c[2] * r2[i];
            out[i] = s;
        }
    }
}

// (I - w A1), one factored matrix per variance row, and (I - w A2), one for every spot, for
// one weight w; a pricing uses two weights (the damped start's and its scheme's).
struct Implicit {
    double w = -1.0;
    std::vector<FactoredTridiagonal> rows;
    FactoredTridiagonal column;
    double eliminate = 0.0;  // the multiple of row 1 taken from row 0 to make A2 tridiagonal
};

void factor(const Operators& op, const Grid& g, double w, Implicit& m) {
    const std::size_t nx = g.nx, nv = g.nv;
    m.w = w;
    m.rows.resize(nv);
    std::vector<double> lower(std::max(nx, nv)), diag(lower.size()), upper(lower.size());
    for (std::size_t j = 0; j < nv; ++j) {
        lower[0] = upper[0] = 0.0;
        diag[0] = 1.0;
        lower[nx - 1] = upper[nx - 1] = 0.0;
        diag[nx - 1] = 1.0;
        for (std::size_t i = 1; i + 1 < nx; ++i) {
            const std::size_t k = j * nx + i;
            lower[i] = -w * op.l1[k];
            diag[i] = 1.0 - w * op.d1[k];
            upper[i] = -w * op.u1[k];
        }
        m.rows[j].factor({std::span(lower).first(nx), std::span(diag).first(nx), std::span(upper).first(nx)});
    }
    const Row3& a = op.a2[0];
    const Row3& b = op.a2[1];
    const double r0[3] = {1.0 - w * a.c[0], -w * a.c[1], -w * a.c[2]};
    const double r1[3] = {-w * b.c[0], 1.0 - w * b.c[1], -w * b.c[2]};
    m.eliminate = r0[2] / r1[2];
    diag[0] = r0[0] - m.eliminate * r1[0];
    upper[0] = r0[1] - m.eliminate * r1[1];
    lower[0] = 0.0;
    for (std::size_t j = 1; j < nv; ++j) {
        const Row3& row = op.a2[j];
        lower[j] = -w * row.c[0];
        diag[j] = 1.0 - w * row.c[1];
        upper[j] = j + 1 == nv ? 0.0 : -w * row.c[2];
    }
    m.column.factor({std::span(lower).first(nv), std::span(diag).first(nv), std::span(upper).first(nv)});
}

void solve_a1(const Implicit& m, const Grid& g, std::span<const double> rhs, std::span<double> y) {
    for (std::size_t j = 0; j < g.nv; ++j) m.rows[j].solve(rhs.data() + j * g.nx, y.data() + j * g.nx, 1);
}

// The spot edges keep rhs; row 0 of each column first loses its multiple of row 1.
void solve_a2(const Implicit& m, const Grid& g, std::span<const double> rhs, std::span<double> y,
              std::vector<double>& column) {
    const std::size_t nx = g.nx, nv = g.nv;
    for (std::size_t j = 0; j < nv; ++j) {
        y[j * nx] = rhs[j * nx];
        y[j * nx + nx - 1] = rhs[j * nx + nx - 1];
    }
    column.resize(nx);
    // Row 0 adjusted for every spot at once, then each column solved in place through y.
    for (std::size_t i = 1; i + 1 < nx; ++i) column[i] = rhs[i] - m.eliminate * rhs[nx + i];
    for (std::size_t i = 1; i + 1 < nx; ++i) {
        y[i] = column[i];
        for (std::size_t j = 1; j < nv; ++j) y[j * nx + i] = rhs[j * nx + i];
        m.column.solve(y.data() + i, y.data() + i, nx);
    }
}

void set_edges(const Problem& pr, const Grid& g, double tau, std::span<double> u) {
    const double lo = edge_value(pr, true, g.spots.front(), tau), hi = edge_value(pr, false, g.spots.back(), tau);
    for (std::size_t j = 0; j < g.nv; ++j) {
        u[j * g.nx] = lo;
        u[j * g.nx + g.nx - 1] = hi;
    }
}

struct Fields {
    std::vector<double> u, a0, a1, a2, au, y0, y, t0, t1, b0, b1, b2, column;
    std::vector<double> lower, diag, upper, work;  // one spot row's matrix for the floored solve
};

// An American's last sweep: (I - w A1) y >= rhs, y >= floor row by row, by Brennan-Schwartz, so
// that the exercise boundary in the spot is found inside the implicit solve.
void solve_a1_floored(const Operators& op, const Grid& g, double w, std::span<const double> rhs,
                      std::span<const double> floor, FloorSide side, std::span<double> y, Fields& f) {
    const std::size_t nx = g.nx;
    f.lower.assign(nx, 0.0);
    f.diag.assign(nx, 1.0);
    f.upper.assign(nx, 0.0);
    f.work.resize(nx);
    for (std::size_t j = 0; j < g.nv; ++j) {
        const std::size_t row = j * nx;
        for (std::size_t i = 1; i + 1 < nx; ++i) {
            f.lower[i] = -w * op.l1[row + i];
            f.diag[i] = 1.0 - w * op.d1[row + i];
            f.upper[i] = -w * op.u1[row + i];
        }
        solve_with_floor({f.lower, f.diag, f.upper}, rhs.subspan(row, nx), floor.subspan(row, nx), side,
                         y.subspan(row, nx), f.work);
    }
}

// The floor of an American (its payoff at every node, and where it binds), absent for a European.
struct Floor {
    const std::vector<double>* values = nullptr;
    FloorSide side = FloorSide::Low;
};

// One ADI step of size dt from tau to tau + dt.
void adi_step(const Operators& op, const Problem& pr, const Grid& g, AdiScheme scheme, const Implicit& m,
              double theta, double dt, double tau, const Floor& floor, Fields& f) {
    const std::size_t n = f.u.size();
    apply_mixed(op, g, f.u, f.a0);
    apply_a1(op, g, f.u, f.a1);
    apply_a2(op, g, f.u, f.a2);
    for (std::size_t c = 0; c < n; ++c) {
        f.au[c] = f.a0[c] + f.a1[c] + f.a2[c];
        f.y0[c] = f.u[c] + dt * f.au[c];
    }
    set_edges(pr, g, tau + dt, f.y0);
    // The two one-dimensional sweeps y_j = y_j-1 + theta dt (A_j y_j - A_j base) from start,
    // variance first, so that a step's last solve is in the spot, where an American's floor
    // is imposed.
    const auto sweeps = [&](const std::vector<double>& start, const std::vector<double>& base_a1,
                            const std::vector<double>& base_a2, std::vector<double>& out, bool last) {
        for (std::size_t c = 0; c < n; ++c) f.t0[c] = start[c] - theta * dt * base_a2[c];
        solve_a2(m, g, f.t0, f.t1, f.column);
        for (std::size_t c = 0; c < n; ++c) f.t0[c] = f.t1[c] - theta * dt * base_a1[c];
        if (last && floor.values != nullptr) {
            solve_a1_floored(op, g, m.w, f.t0, *floor.values, floor.side, out, f);
        } else {
            solve_a1(m, g, f.t0, out);
        }
    };
    sweeps(f.y0, f.a1, f.a2, f.y, scheme == AdiScheme::Douglas);
    if (scheme == AdiScheme::Douglas) {
        f.u.swap(f.y);
        return;
    }
    apply_mixed(op, g, f.y, f.b0);
    if (scheme == AdiScheme::CraigSneyd) {
        for (std::size_t c = 0; c < n; ++c) f.y0[c] += 0.5 * dt * (f.b0[c] - f.a0[c]);
        set_edges(pr, g, tau + dt, f.y0);
        sweeps(f.y0, f.a1, f.a2, f.u, true);
        return;
    }
    apply_a1(op, g, f.y, f.b1);
    apply_a2(op, g, f.y, f.b2);
    if (scheme == AdiScheme::ModifiedCraigSneyd) {
        for (std::size_t c = 0; c < n; ++c) {
            const double all = (f.b0[c] + f.b1[c] + f.b2[c]) - f.au[c];
            f.y0[c] += theta * dt * (f.b0[c] - f.a0[c]) + (0.5 - theta) * dt * all;
        }
        set_edges(pr, g, tau + dt, f.y0);
        sweeps(f.y0, f.a1, f.a2, f.u, true);
        return;
    }
    // Hundsdorfer-Verwer: the half-step correction of the whole operator, then sweeps against y.
    for (std::size_t c = 0; c < n; ++c) f.y0[c] += 0.5 * dt * ((f.b0[c] + f.b1[c] + f.b2[c]) - f.au[c]);
    set_edges(pr, g, tau + dt, f.y0);
    sweeps(f.y0, f.b1, f.b2, f.u, true);
}


double scheme_theta(AdiScheme s) {
    switch (s) {
        case AdiScheme::ModifiedCraigSneyd: return 1.0 / 3.0;
        case AdiScheme::HundsdorferVerwer: return 0.5 + std::sqrt(3.0) / 6.0;
        default: return 0.5;
    }
}

Grid make_grid(std::span<const double> x, std::span<const double> v) {
    Grid g;
    g.x.assign(x.begin(), x.end());
    g.v.assign(v.begin(), v.end());
    g.nx = x.size();
    g.nv = v.size();
    g.spots.resize(g.nx);
    for (std::size_t i = 0; i < g.nx; ++i) g.spots[i] = quelm::exp(x[i]);
    g.sx.resize(g.nx);
    g.sv.resize(g.nv);
    for (std::size_t i = 1; i + 1 < g.nx; ++i) g.sx[i] = stencil(x[i] - x[i - 1], x[i + 1] - x[i]);
    for (std::size_t j = 1; j + 1 < g.nv; ++j) g.sv[j] = stencil(v[j] - v[j - 1], v[j + 1] - v[j]);
    const double h1 = v[1] - v[0], h2 = v[2] - v[1];
    g.v0_forward[0] = -(2.0 * h1 + h2) / (h1 * (h1 + h2));
    g.v0_forward[1] = (h1 + h2) / (h1 * h2);
    g.v0_forward[2] = -h1 / (h2 * (h1 + h2));
    return g;
}

// The solution at tau = T on the grid.
Result<std::vector<double>> solve(const Problem& pr, const Grid& g, AdiScheme scheme, std::size_t time_steps,
                                  CancelPoller& poller) {
    const std::size_t n = g.nx * g.nv;
    const Operators op = build_operators(pr, g);
    Fields f;
    for (auto* w : {&f.u, &f.a0, &f.a1, &f.a2, &f.au, &f.y0, &f.y, &f.t0, &f.t1, &f.b0, &f.b1, &f.b2})
        w->assign(n, 0.0);
    std::vector<double> floor(n);
    for (std::size_t j = 0; j < g.nv; ++j)
        for (std::size_t i = 0; i < g.nx; ++i) floor[j * g.nx + i] = payoff(pr.type, g.spots[i], pr.K);
    f.u = floor;
    set_edges(pr, g, 0.0, f.u);
    // An American's steps grow away from expiry (tau = T u^2 for u uniform), where its free
    // boundary moves fastest; a European's are even, which suits the scheme's second order.
    // Each step's implicit matrices are factored once.
    const auto at = [&](std::size_t k) {
        const double u = static_cast<double>(k) / static_cast<double>(time_steps);
        return pr.T * (pr.american ? u * u : u);
    };
    const double theta = scheme_theta(scheme);
    const Floor exercise{pr.american ? &floor : nullptr,
                         pr.type == OptionType::Put ? FloorSide::Low : FloorSide::High};
    Implicit m;
    for (std::size_t step = 0; step < time_steps; ++step) {
        const double tau = at(step), dt = at(step + 1) - tau;
        if (step == 0) {
            // Damped start: the first step as two Douglas half steps with theta = 1.
            factor(op, g, 0.5 * dt, m);
            adi_step(op, pr, g, AdiScheme::Douglas, m, 1.0, 0.5 * dt, tau, exercise, f);
            adi_step(op, pr, g, AdiScheme::Douglas, m, 1.0, 0.5 * dt, tau + 0.5 * dt, exercise, f);
        } else {
            factor(op, g, theta * dt, m);
            adi_step(op, pr, g, scheme, m, theta, dt, tau, exercise, f);
        }
        if (pr.american)
            for (std::size_t c = 0; c < n; ++c) f.u[c] = std::max(f.u[c], floor[c]);
        if (poller.tick(20 * n)) return cancelled();
    }
    return f.u;
}

// Price and Greeks at (spot, v0): cubics in log-spot along four variance rows, then in variance.
HestonFdResult at_point(const Grid& g, std::span<const double> u, double spot, double v0) {
    const double y = quelm::log(spot);
    const auto it = std::upper_bound(g.v.begin(), g.v.end(), v0);
    std::size_t j = it == g.v.begin() ? 0 : static_cast<std::size_t>(it - g.v.begin()) - 1;
    std::size_t s = j >= 1 ? j - 1 : 0;
    if (s + 4 > g.nv) s = g.nv - 4;
    double value[4], first[4], second[4];
    for (std::size_t b = 0; b < 4; ++b) {
        const Interpolated r = cubic_at(g.x, u.subspan((s + b) * g.nx, g.nx), y);
        value[b] = r.value;
        first[b] = r.first;
        second[b] = r.second;
    }
    const std::span<const double> vs(g.v.data() + s, 4);
    const Interpolated pv = cubic_at(vs, value, v0);
    const double vx = cubic_at(vs, first, v0).value, vxx = cubic_at(vs, second, v0).value;
    return {pv.value, vx / spot, (vxx - vx) / (spot * spot), pv.first * 2.0 * std::sqrt(v0)};
}

}  // namespace

Result<HestonFdResult> fd_heston_price(const HestonFdContract& o, const volatility::HestonMarket& m,
                                       const volatility::HestonParams& p, const HestonFdSettings& s,
                                       Cancel& cancel) {
    QUELM_CHECK(validate_vanilla(o.strike, m.spot, 0.0, m.t));
    if (m.spot == 0.0) return invalid("spot must be > 0");
    QUELM_CHECK(volatility::validate_heston(p));
    if (o.barrier_type.has_value() != o.barrier.has_value())
        return bad_argument("barrier and barrier_type must be given together");
    if (o.barrier && !(*o.barrier > 0.0)) return invalid("barrier must be > 0");
    if (o.barrier_type && is_in(*o.barrier_type) && o.style == ExerciseStyle::American)
        return bad_argument("american knock-in options are not supported");
    if (s.space_steps && *s.space_steps < 20) return invalid("space_steps must be >= 20");
    if (s.variance_steps && *s.variance_steps < 10) return invalid("variance_steps must be >= 10");
    if (s.time_steps && *s.time_steps < 4) return invalid("time_steps must be >= 4");
    const std::uint64_t limit = 1u << 24;
    if (s.space_steps.value_or(0) > limit || s.variance_steps.value_or(0) > limit || s.time_steps.value_or(0) > limit)
        return invalid("space_steps, variance_steps and time_steps must be <= 16777216");
    if (any_nan(m.spot, m.rate, m.dividend_yield, m.t, o.strike, p.v0, p.kappa, p.theta, p.xi, p.rho) ||
        (o.barrier && std::isnan(*o.barrier)))
        return HestonFdResult{kNaN, kNaN, kNaN, kNaN};
    const double S = m.spot, K = o.strike, T = m.t;
    if (o.barrier_type) {
        const bool breached = is_down(*o.barrier_type) ? S <= *o.barrier : S >= *o.barrier;
        if (breached) {
            if (!is_in(*o.barrier_type)) return HestonFdResult{0.0, 0.0, 0.0, 0.0};
            HestonFdContract vanilla = o;
            vanilla.barrier_type.reset();
            vanilla.barrier.reset();
            return fd_heston_price(vanilla, m, p, s, cancel);
        }
    }
    if (T == 0.0) {
        const double itm = o.type == OptionType::Call ? (S > K ? 1.0 : 0.0) : (S < K ? -1.0 : 0.0);
        return HestonFdResult{payoff(o.type, S, K), itm, 0.0, 0.0};
    }
    const std::size_t nx = s.space_steps.value_or(kDefaultHestonSpaceSteps);
    const std::size_t nv = s.variance_steps.value_or(kDefaultHestonVarianceSteps);
    const std::size_t nt = s.time_steps.value_or(kDefaultHestonTimeSteps);
    QUELM_TRY(claim, claim_memory(doubles_bytes(24.0 * static_cast<double>(nx + 1) * static_cast<double>(nv + 1)),
                                  "the finite-difference grid"));

    // Log-spot: as wide as five standard deviations at the larger of v0 and theta.
    const double level = std::max(p.v0, p.theta);
    const double w = 5.0 * std::sqrt(std::max(level, 1e-4) * T);
    double lo = quelm::log(std::min(S, K)) - w, hi = quelm::log(std::max(S, K)) + w;
    const bool barrier = o.barrier_type.has_value();
    const bool down = barrier && is_down(*o.barrier_type), in = barrier && is_in(*o.barrier_type);
    const double xb = barrier ? quelm::log(*o.barrier) : 0.0;
    Span span = barrier_span(lo, hi, quelm::log(K), barrier ? std::optional<double>(xb) : std::nullopt, down, in,
                             0.25 * w);
    lo = span.lo;
    hi = span.hi;
    const std::vector<double>& knots = span.knots;
    // A barrier's steep edge needs nodes too: a milder stretch then.
    const double centre = std::clamp(quelm::log(K), lo, hi);
    const std::vector<double> x = sinh_grid(lo, hi, centre, (barrier ? 0.2 : 0.05) * (hi - lo), nx, knots);
    // Variance: from 0 to well past where the variance goes within the expiry, dense near 0.
    const double v_max = std::max(5.0 * level, level + 6.0 * p.xi * std::sqrt(level * T));
    const double v_top = v_max > 0.0 ? v_max : 1.0;
    const std::vector<double> v = sinh_grid(0.0, v_top, 0.0, std::max(level, 1e-4) * 0.5, nv, {});
    if (x.size() < 4 || v.size() < 4) return invalid("the grid needs at least four nodes each way");

    const AdiScheme scheme = s.scheme;
    Problem pr{K, T, m.rate, m.dividend_yield, p, o.type, o.style == ExerciseStyle::American, false, false};
    CancelPoller poller(cancel);
    const Grid full = make_grid(x, v);
    if (!barrier) {
        QUELM_TRY(u, solve(pr, full, scheme, nt, poller));
        return at_point(full, u, S, p.v0);
    }
    Problem out = pr;
    out.barrier_low = down;
    out.barrier_high = !down;
    if (!in) {
        QUELM_TRY(u, solve(out, full, scheme, nt, poller));
        return at_point(full, u, S, p.v0);
    }
    const std::size_t b = nearest_node(x, xb);
    const std::span<const double> alive = down ? std::span<const double>(x).subspan(b)
                                               : std::span<const double>(x).first(b + 1);
    const Grid part = make_grid(alive, v);
    QUELM_TRY(vanilla, solve(pr, full, scheme, nt, poller));
    QUELM_TRY(knocked, solve(out, part, scheme, nt, poller));
    const HestonFdResult a = at_point(full, vanilla, S, p.v0), c = at_point(part, knocked, S, p.v0);
    return HestonFdResult{a.price - c.price, a.delta - c.delta, a.gamma - c.gamma, a.vega - c.vega};
}

}  // namespace quelm::fd

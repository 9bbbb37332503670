#include "quelm/fd/black_scholes_fd.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "quelm/core/math/elementary.hpp"
#include "quelm/core/memory.hpp"
#include "quelm/fd/grid.hpp"
#include "quelm/fd/tridiagonal.hpp"

namespace quelm::fd {

namespace {

using pricing::BarrierType;
using pricing::ExerciseStyle;

// The grid reaches this many standard deviations of log-spot beyond the spot and the strike:
// the value lost past it is below 1e-6 of the price on the standard problems.
constexpr double kWidth = 5.0;
// The sinh map's scale as a share of that width: nodes about 4.5 times denser at the strike
// than at the edges.
constexpr double kAlpha = 0.2;

enum class Payoff : unsigned char { Vanilla, Unit };

// What every solve of one pricing shares.
struct Setup {
    double K, T, r, q, sigma;
    OptionType type;
    bool american;
    const volatility::VolSurface* local_vol;
    std::vector<CashDividend> dividends;  // strictly inside (0, T), latest first
    Scheme scheme;
    std::size_t time_steps;
    double grid_sigma = 0.0;  // the volatility that sets the grid's width
};

// One backward solve on nodes x: the payoff, which edge is a knock-out barrier, and what is paid there.
struct Solve {
    std::span<const double> x;
    Payoff payoff;
    bool barrier_low, barrier_high;
    double at_barrier;
};

// The values at time 0 and one and two steps of size dt later.
struct Rolled {
    std::vector<double> now, one, two;
    double dt, dt_before;  // the last step and the one before it
};

double payoff_at(const Setup& s, Payoff p, double spot) {
    return p == Payoff::Unit ? 1.0 : payoff(s.type, spot, s.K);
}

// The dividends still to be paid after time t, discounted to t.
double dividends_after(const Setup& s, double t) {
    double pv = 0.0;
    for (const CashDividend& d : s.dividends)
        if (d.t > t) pv += d.amount * quelm::exp(-s.r * (d.t - t));
    return pv;
}

// The value at an edge of the grid (or beyond it, after a dividend) tau before expiry: the
// barrier's payment, or the option's far-field value, the forward's intrinsic value (and, for
// an American, at least the payoff).
double edge_value(const Setup& s, const Solve& v, bool low, double spot, double tau) {
    if ((low && v.barrier_low) || (!low && v.barrier_high)) return v.at_barrier;
    if (v.payoff == Payoff::Unit) return quelm::exp(-s.r * tau);
    const bool in_money = (s.type == OptionType::Put) == low;
    if (!in_money) return 0.0;
    const double t = s.T - tau;
    const double forward_spot = (spot - dividends_after(s, t)) * quelm::exp(-s.q * tau);
    const double strike = s.K * quelm::exp(-s.r * tau);
    double value = s.type == OptionType::Put ? strike - forward_spot : forward_spot - strike;
    if (value < 0.0) value = 0.0;
    if (s.american) value = std::max(value, payoff(s.type, spot, s.K));
    return value;
}

// The operator's three coefficients at each interior node: L v_i = l v_i-1 + d v_i + u v_i+1
// for 0.5 sigma^2 (v_xx - v_x) + (r - q) v_x - r v on the uneven grid.
struct Operator {
    std::vector<double> l, d, u;
};

Status build_operator(const Setup& s, std::span<const double> x, std::span<const double> spots, double t,
                      Operator& op) {
    const std::size_t n = x.size();
    for (std::size_t i = 1; i + 1 < n; ++i) {
        double sigma = s.sigma;
        if (s.local_vol != nullptr) {
            QUELM_TRY(lv, s.local_vol->local_vol(spots[i], t));
            sigma = lv;
        }
        const double a = 0.5 * sigma * sigma;
        const double b = s.r - s.q - a;
        const double hm = x[i] - x[i - 1], hp = x[i + 1] - x[i];
        const double sum = hm + hp;
        const double d2m = 2.0 / (hm * sum), d2c = -2.0 / (hm * hp), d2p = 2.0 / (hp * sum);
        const double d1m = -hp / (hm * sum), d1c = (hp - hm) / (hm * hp), d1p = hm / (hp * sum);
        op.l[i] = a * d2m + b * d1m;
        op.d[i] = a * d2c + b * d1c - s.r;
        op.u[i] = a * d2p + b * d1p;
    }
    return {};
}

// The value after a cash dividend, on the side before it: v(S) = v(S - D) read off the grid by
// its cubic, or by the edge value below the grid's lowest node.
void pay_dividend(const Setup& s, const Solve& v, double amount, double tau, std::span<const double> spots,
                  std::vector<double>& values, std::vector<double>& scratch) {
    const std::size_t n = v.x.size();
    scratch.assign(values.begin(), values.end());
    for (std::size_t i = 0; i < n; ++i) {
        const double shifted = spots[i] - amount;
        // Below the lowest node: dead under a lower knock-out barrier, else the far field (a
        // put's discounted strike at spot 0 or less).
        values[i] = shifted <= spots[0] ? edge_value(s, v, true, std::max(shifted, 0.0), tau)
                                        : cubic_at(v.x, scratch, quelm::log(shifted)).value;
        if (s.american && v.payoff == Payoff::Vanilla) values[i] = std::max(values[i], payoff(s.type, spots[i], s.K));
    }
}

Result<Rolled> roll_back(const Setup& s, const Solve& v, CancelPoller& poller) {
    const std::size_t n = v.x.size();
    std::vector<double> spots(n), floor(n), values(n), rhs(n), work(n), next(n), scratch;
    for (std::size_t i = 0; i < n; ++i) {
        spots[i] = quelm::exp(v.x[i]);
        floor[i] = payoff_at(s, v.payoff, spots[i]);
        values[i] = floor[i];
    }
    if (v.barrier_low) values[0] = v.at_barrier;
    if (v.barrier_high) values[n - 1] = v.at_barrier;
    const bool project = s.american && v.payoff == Payoff::Vanilla;
    const FloorSide side = s.type == OptionType::Put ? FloorSide::Low : FloorSide::High;
    Operator op{std::vector<double>(n, 0.0), std::vector<double>(n, 0.0), std::vector<double>(n, 0.0)};
    std::vector<double> lower(n, 0.0), diag(n, 1.0), upper(n, 0.0);

    // Stretches of time to expiry between the dividends, each with its share of the steps.
    std::vector<double> ends{0.0};
    for (const CashDividend& d : s.dividends) ends.push_back(s.T - d.t);
    ends.push_back(s.T);
    Rolled out;
    std::vector<double> one, two;
    double last_dt = 0.0, before_dt = 0.0;
    bool built = false;  // a constant volatility's operator is built once
    for (std::size_t seg = 0; seg + 1 < ends.size(); ++seg) {
        const double tau0 = ends[seg], len = ends[seg + 1] - tau0;
        const auto share = static_cast<double>(s.time_steps) * len / s.T;
        const std::size_t m = std::max<std::size_t>(4, static_cast<std::size_t>(std::lround(share)));
        // Steps growing away from expiry (tau = len u^2 for u uniform), where the payoff's kink
        // and an American's free boundary move fastest.
        const auto at = [&](std::size_t k) {
            const double u = static_cast<double>(k) / static_cast<double>(m);
            return tau0 + len * (u * u);
        };
        for (std::size_t k = 0; k < m; ++k) {
            // The first two steps of a stretch are four implicit half steps, which damp the
            // payoff's kink (or the dividend's) before Crank-Nicolson, which would carry it on.
            const bool start = k < 2;
            const double theta = start || s.scheme == Scheme::Implicit ? 1.0 : 0.5;
            const std::size_t subs = start ? 2 : 1;
            const double step = at(k + 1) - at(k);
            const double h = step / static_cast<double>(subs);
            two.swap(one);
            one.assign(values.begin(), values.end());
            for (std::size_t sub = 0; sub < subs; ++sub) {
                const double tau = at(k) + static_cast<double>(sub) * h;
                if (s.local_vol != nullptr || !built) {
                    QUELM_CHECK(build_operator(s, v.x, spots, s.T - (tau + 0.5 * h), op));
                    built = true;
                }
                rhs[0] = edge_value(s, v, true, spots[0], tau + h);
                rhs[n - 1] = edge_value(s, v, false, spots[n - 1], tau + h);
                for (std::size_t i = 1; i + 1 < n; ++i) {
                    const double explicit_part =
                        theta < 1.0 ? op.l[i] * values[i - 1] + op.d[i] * values[i] + op.u[i] * values[i + 1] : 0.0;
                    rhs[i] = values[i] + (1.0 - theta) * h * explicit_part;
                    lower[i] = -theta * h * op.l[i];
                    diag[i] = 1.0 - theta * h * op.d[i];
                    upper[i] = -theta * h * op.u[i];
                }
                const Tridiagonal a{lower, diag, upper};
                if (project) {
                    solve_with_floor(a, rhs, floor, side, next, work);
                } else {
                    solve_tridiagonal(a, rhs, next, work);
                }
                values.swap(next);
                if (poller.tick(n)) return cancelled();
            }
            before_dt = last_dt;
            last_dt = step;
        }
        if (seg + 2 < ends.size()) pay_dividend(s, v, s.dividends[seg].amount, ends[seg + 1], spots, values, scratch);
    }
    out.now = std::move(values);
    out.one = std::move(one);
    out.two = std::move(two);
    out.dt = last_dt;
    out.dt_before = before_dt;
    return out;
}

// Price and Greeks at the spot from a solve: the cubic through the nodes about it, and theta
// from the last three time levels (second order, backward in time to expiry).
FdResult at_spot(const Rolled& r, std::span<const double> x, double spot) {
    const double y = quelm::log(spot);
    const Interpolated now = cubic_at(x, r.now, y);
    const double one = cubic_at(x, r.one, y).value, two = cubic_at(x, r.two, y).value;
    // The three-point backward derivative in time to expiry over uneven steps h1 (last), h2.
    const double h1 = r.dt, h2 = r.dt_before;
    const double dv = (2.0 * h1 + h2) / (h1 * (h1 + h2)) * now.value - (h1 + h2) / (h1 * h2) * one +
                      h1 / (h2 * (h1 + h2)) * two;
    return {now.value, now.first / spot, (now.second - now.first) / (spot * spot), -dv};
}

FdResult combine(const FdResult& a, double wa, const FdResult& b, double wb) {
    return {wa * a.price + wb * b.price, wa * a.delta + wb * b.delta, wa * a.gamma + wb * b.gamma,
            wa * a.theta + wb * b.theta};
}


// One pricing at the given grid sizes.
Result<FdResult> solve_once(const FdContract& o, const FdModel& m, Setup s, std::size_t space_steps,
                            std::size_t time_steps, CancelPoller& poller) {
    s.time_steps = time_steps;
    const double S = m.spot, K = o.strike;
    double cash = 0.0;
    for (const CashDividend& d : s.dividends) cash += d.amount;
    // Wide enough for the spot, the strike and the spot after its dividends.
    const double w = kWidth * s.grid_sigma * std::sqrt(s.T);
    const double low_spot = std::min({S, K, std::max(S - cash, 0.05 * S)});
    double lo = quelm::log(low_spot) - w, hi = quelm::log(std::max(S, K)) + w;
    const bool barrier = o.barrier_type.has_value();
    const bool down = barrier && is_down(*o.barrier_type), in = barrier && is_in(*o.barrier_type);
    const double xb = barrier ? quelm::log(*o.barrier) : 0.0;
    Span span = barrier_span(lo, hi, quelm::log(K), barrier ? std::optional<double>(xb) : std::nullopt, down, in,
                             0.25 * w);
    lo = span.lo;
    hi = span.hi;
    const std::vector<double>& knots = span.knots;
    const double centre = std::clamp(quelm::log(K), lo, hi);
    const std::vector<double> x = sinh_grid(lo, hi, centre, kAlpha * (hi - lo) / 2.0, space_steps, knots);
    QUELM_TRY(claim, claim_memory(doubles_bytes(16.0 * static_cast<double>(x.size())), "the finite-difference grid"));

    if (!barrier) {
        QUELM_TRY(r, roll_back(s, {x, Payoff::Vanilla, false, false, 0.0}, poller));
        return at_spot(r, x, S);
    }
    if (!in) {
        QUELM_TRY(r, roll_back(s, {x, Payoff::Vanilla, down, !down, o.rebate}, poller));
        return at_spot(r, x, S);
    }
    // A knock-in is the vanilla less the knock-out on the same nodes, plus its rebate paid at
    // expiry where the barrier was never touched.
    const std::size_t b = nearest_node(x, xb);
    const std::span<const double> alive = down ? std::span<const double>(x).subspan(b)
                                               : std::span<const double>(x).first(b + 1);
    QUELM_TRY(vanilla, roll_back(s, {x, Payoff::Vanilla, false, false, 0.0}, poller));
    QUELM_TRY(out, roll_back(s, {alive, Payoff::Vanilla, down, !down, 0.0}, poller));
    FdResult price = combine(at_spot(vanilla, x, S), 1.0, at_spot(out, alive, S), -1.0);
    if (o.rebate > 0.0) {
        QUELM_TRY(untouched, roll_back(s, {alive, Payoff::Unit, down, !down, 0.0}, poller));
        price = combine(price, 1.0, at_spot(untouched, alive, S), o.rebate);
    }
    return price;
}

Status validate(const FdContract& o, const FdModel& m, const FdSettings& s) {
    QUELM_CHECK(validate_vanilla(o.strike, m.spot, m.vol, o.expiry));
    if (m.spot == 0.0) return invalid("spot must be > 0");
    if (m.vol == 0.0 && m.local_vol == nullptr) return invalid("volatility must be > 0");
    if (o.barrier_type.has_value() != o.barrier.has_value())
        return bad_argument("barrier and barrier_type must be given together");
    if (o.barrier && !(*o.barrier > 0.0)) return invalid("barrier must be > 0");
    if (!(o.rebate >= 0.0)) return invalid("rebate must be >= 0");
    if (o.rebate > 0.0 && !o.barrier) return bad_argument("a rebate needs a barrier");
    if (o.barrier_type && is_in(*o.barrier_type) && o.style == ExerciseStyle::American)
        return bad_argument("american knock-in options are not supported");
    if (s.grid_vol && !(std::isfinite(*s.grid_vol) && *s.grid_vol > 0.0)) return invalid("grid_vol must be > 0");
    if (s.space_steps && *s.space_steps < 20) return invalid("space_steps must be >= 20");
    if (s.time_steps && *s.time_steps < 4) return invalid("time_steps must be >= 4");
    if ((s.space_steps && *s.space_steps > (1u << 24)) || (s.time_steps && *s.time_steps > (1u << 24)))
        return invalid("space_steps and time_steps must be <= 16777216");
    for (const CashDividend& d : m.dividends) {
        if (!std::isfinite(d.t) || !std::isfinite(d.amount)) return invalid("dividends must be finite");
        if (d.t <= 0.0) return invalid("dividend times must be > 0");
        if (d.amount < 0.0) return invalid("dividend amounts must be >= 0");
    }
    return {};
}

}  // namespace

Result<FdResult> fd_price(const FdContract& o, const FdModel& m, const FdSettings& settings, Cancel& cancel) {
    QUELM_CHECK(validate(o, m, settings));
    if (any_nan(m.spot, m.rate, m.vol, m.dividend_yield, o.strike, o.expiry, o.rebate) ||
        (o.barrier && std::isnan(*o.barrier)))
        return FdResult{kNaN, kNaN, kNaN, kNaN};
    const double S = m.spot, K = o.strike, T = o.expiry;
    const bool american = o.style == ExerciseStyle::American;
    if (o.barrier_type) {
        const bool down = is_down(*o.barrier_type);
        const bool breached = down ? S <= *o.barrier : S >= *o.barrier;
        if (breached) {
            if (!is_in(*o.barrier_type)) return FdResult{o.rebate, 0.0, 0.0, 0.0};
            FdContract vanilla = o;
            vanilla.barrier_type.reset();
            vanilla.barrier.reset();
            vanilla.rebate = 0.0;
            return fd_price(vanilla, m, settings, cancel);
        }
    }
    if (T == 0.0) {
        const double itm = o.type == OptionType::Call ? (S > K ? 1.0 : 0.0) : (S < K ? -1.0 : 0.0);
        return FdResult{payoff(o.type, S, K), itm, 0.0, 0.0};
    }
    Setup s{K, T, m.rate, m.dividend_yield, m.vol, o.type, american, m.local_vol, {}, settings.scheme, 0};
    if (m.local_vol != nullptr) {
        // The grid's width from the surface's level at the strike and the spot.
        QUELM_TRY(at_strike, m.local_vol->vol(K, T));
        QUELM_TRY(at_spot, m.local_vol->vol(S, T));
        s.sigma = std::max(at_strike, at_spot);
    }
    s.grid_sigma = settings.grid_vol.value_or(s.sigma);
    for (const CashDividend& d : m.dividends)
        if (d.t < T && d.amount > 0.0) s.dividends.push_back(d);
    std::sort(s.dividends.begin(), s.dividends.end(),
              [](const CashDividend& a, const CashDividend& b) { return a.t > b.t; });
    // Dividends within a step of each other or of expiry still get their own stretch.
    const auto space = static_cast<std::size_t>(settings.space_steps.value_or(kDefaultSpaceSteps));
    const auto time = static_cast<std::size_t>(settings.time_steps.value_or(kDefaultTimeSteps));
    CancelPoller poller(cancel);
    QUELM_TRY(coarse, solve_once(o, m, s, space, time, poller));
    if (!settings.extrapolate) return coarse;
    // Second order in both steps: the doubled grid's error is a quarter of this one's.
    QUELM_TRY(fine, solve_once(o, m, s, 2 * space, 2 * time, poller));
    return combine(fine, 4.0 / 3.0, coarse, -1.0 / 3.0);
}

}  // namespace quelm::fd

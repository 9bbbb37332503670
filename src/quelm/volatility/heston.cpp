#include "quelm/volatility/heston.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "quelm/core/math/complex.hpp"
#include "quelm/core/math/distributions.hpp"
#include "quelm/core/math/elementary.hpp"
#include "quelm/core/math/gauss_legendre.hpp"

namespace quelm::volatility {

namespace {

constexpr double kPi = 3.141592653589793;

// ln phi(u - i/2), phi the characteristic function of ln(S_T / F). With s = u^2 + 1/4 real,
// h = (beta - d) / xi^2 is written -s / (beta + d) and g = (beta - d) / (beta + d) as
// xi^2 h / (beta + d): neither cancels as xi -> 0, so the Black-Scholes limit is reached
// smoothly. The logarithm is ln((1 - g e^(-dT)) / (1 - g)) taken as ln(1 + z) on the
// principal branch (Albrecher et al.'s form, continuous in u), divided by z where it meets
// xi^2. 1 - g = 2d / (beta + d) exactly, which spares a division: z = xi^2 q with
// q = -s (1 - e^(-dT)) / (2 d (beta + d)).
Cx log_cf(double u, double t, const HestonParams& p) {
    const double s = u * u + 0.25;
    const Cx beta{p.kappa - p.rho * p.xi / 2.0, -p.rho * p.xi * u};
    const double xi2 = p.xi * p.xi;
    const Cx d = csqrt(beta * beta + Cx{xi2 * s, 0.0});
    const Cx b = beta + d;
    const Cx rb = 1.0 / b;
    const Cx h = -s * rb;
    const Cx g = xi2 * (h * rb);
    // 1 - e^(-dT); past Re(dT) = 40 the exponential is below a rounding of 1 and is dropped
    // (most nodes of the tail), sparing its sine and cosine.
    const Cx em = d.re * t > 40.0 ? Cx{1.0, 0.0} : -cexpm1(-t * d);
    const Cx big_d = h * em / (1.0 - g * (1.0 - em));
    const Cx q = (-s * em) / (2.0 * (b * d));
    const Cx z = xi2 * q;
    const Cx log_ratio_over_z = (z.re == 0.0 && z.im == 0.0) ? Cx{1.0, 0.0} : clog1p(z) / z;
    const Cx big_c = (p.kappa * p.theta) * (t * h - 2.0 * (log_ratio_over_z * q));
    return big_c + p.v0 * big_d;
}

// The mean variance over [0, t]: the variance of the control variate.
double mean_variance(const HestonParams& p, double t) {
    const double kt = p.kappa * t;
    const double f = kt > 0.0 ? -quelm::expm1(-kt) / kt : 1.0;
    return p.theta + (p.v0 - p.theta) * f;
}

// The Black-Scholes forward price (undiscounted) of a call at total variance w > 0.
double black_call_forward(double f, double k, double log_fk, double w) {
    const double sd = std::sqrt(w);
    const double d1 = log_fk / sd + sd / 2.0;
    return f * normal_cdf(d1) - k * normal_cdf(d1 - sd);
}

// The integration grid of one expiry and one rule: node positions u_j and the weighted
// integrand w_j (phi(u_j - i/2) - phi_BS(u_j - i/2)) / (u_j^2 + 1/4), shared by every strike
// priced on that rule. Left uninitialised: only the first n entries are written and read.
struct Grid {
    double u[512];
    double re[512];
    double im[512];
    std::size_t n = 0;
};

// Truncation: the integrand's envelope is modelled as exp(-f(u)), f a hyperbola that is
// quadratic (the mean variance) near 0 and linear (Lewis's asymptotic rate) far out,
// cut where f = kDecay. Nodes follow u = u0 (e^(lambda y) - 1): dense where the control
// variate's Gaussian lives, sparse in the long exponential tail. The node count grows with
// the oscillations of the integrand (the strike's and the characteristic function's own).
constexpr double kDecay = 30.0;

// What one expiry's grids share: the map of the nodes and the node count wanted apart from
// the strike's own oscillation, `base + per_log_moneyness * |ln(F/K)|`.
struct Plan {
    double w_bar, u0, lambda;
    double base, per_log_moneyness;
};

Plan plan_of(const HestonParams& p, double t, double w_bar) {
    const double one_minus_rho2 = std::max(1.0 - p.rho * p.rho, 0.0025);
    const double c = std::sqrt(one_minus_rho2) * (p.v0 + p.kappa * p.theta * t) / p.xi;
    const double a = c * c / w_bar;
    double upper = std::sqrt(kDecay * kDecay + 2.0 * kDecay * a) / c;
    upper = std::min(upper, 1e6);
    const double u0 = 1.0 / std::sqrt(w_bar);
    const double lambda = quelm::log1p(upper / u0);
    const double phase = std::fabs(log_cf(upper, t, p).im);
    return {w_bar, u0, lambda, 16.0 + 0.5 * (phase / kPi) + 4.0 * lambda, 1.5 * upper / kPi};
}

// The rule a strike at log-moneyness log_fk is priced on: it depends on that strike alone,
// so a strike has the same price alone or in any chain.
std::size_t rule_of(const Plan& plan, double log_fk) {
    double want = plan.base + plan.per_log_moneyness * std::fabs(log_fk);
    if (!(want <= 1e9)) want = 1e9;  // NaN or huge: the largest rule
    return gauss_legendre_at_least(want).nodes.size();
}

void build_grid(const HestonParams& p, double t, const Plan& plan, std::size_t order, Grid& grid) {
    const GaussLegendre rule = gauss_legendre_at_least(static_cast<double>(order));
    grid.n = rule.nodes.size();
    for (std::size_t j = 0; j < grid.n; ++j) {
        const double y = (rule.nodes[j] + 1.0) / 2.0;
        const double grow = quelm::expm1(plan.lambda * y);
        const double u = plan.u0 * grow;
        const double weight = rule.weights[j] / 2.0 * plan.u0 * plan.lambda * (grow + 1.0);
        const double s = u * u + 0.25;
        const Cx phi = cexp(log_cf(u, t, p));
        const double phi_bs = quelm::exp(-plan.w_bar * s / 2.0);
        grid.u[j] = u;
        const double scale = weight / s;
        grid.re[j] = scale * (phi.re - phi_bs);
        grid.im[j] = scale * phi.im;
    }
}

// The last few grids this thread built, so that pricing one strike at a time (an array call
// runs element by element) evaluates the characteristic function once per expiry too. A
// grid is a pure function of its key, so a price never depends on what the cache held.
struct GridKey {
    double v0, kappa, theta, xi, rho, t;
    std::size_t order;
    [[nodiscard]] bool operator==(const GridKey& o) const {
        return std::memcmp(this, &o, sizeof *this) == 0;  // bitwise: -0.0 and 0.0 differ
    }
};
static_assert(sizeof(GridKey) == 7 * 8, "GridKey has no padding");

struct GridCache {
    static constexpr std::size_t kSlots = 4;
    GridKey key[kSlots];
    bool used[kSlots] = {};
    std::size_t next = 0;
    Grid grid[kSlots];
};

// The grid for `order`, from this thread's cache or built into it; `own` when the cache
// cannot be had (no memory for it).
const Grid& grid_for(const HestonParams& p, double t, const Plan& plan, std::size_t order, Grid& own) {
    thread_local std::unique_ptr<GridCache> cache;
    if (!cache) cache.reset(new (std::nothrow) GridCache);
    if (!cache) {
        build_grid(p, t, plan, order, own);
        return own;
    }
    const GridKey key{p.v0, p.kappa, p.theta, p.xi, p.rho, t, order};
    for (std::size_t i = 0; i < GridCache::kSlots; ++i)
        if (cache->used[i] && cache->key[i] == key) return cache->grid[i];
    const std::size_t slot = cache->next;
    cache->next = (slot + 1) % GridCache::kSlots;
    cache->used[slot] = false;  // half-built until the grid is complete
    build_grid(p, t, plan, order, cache->grid[slot]);
    cache->key[slot] = key;
    cache->used[slot] = true;
    return cache->grid[slot];
}

// The Lewis integral of one strike on its grid: sum_j w_j Re(e^(i u_j x) (phi - phi_BS)_j).
double integral_on(const Grid& grid, double log_fk) {
    double integral = 0.0;
    for (std::size_t j = 0; j < grid.n; ++j) {
        const SinCos sc = sincos(grid.u[j] * log_fk);
        integral += sc.cos * grid.re[j] - sc.sin * grid.im[j];
    }
    return integral;
}

// The lower no-arbitrage bound, discounted.
double intrinsic_forward(OptionType type, double f, double k) { return payoff(type, f, k); }

constexpr double kInstantReversion = 1e100;

// The price from the discounted forward fd = S e^(-qT) and strike kd = K e^(-rT), for
// markets whose undiscounted forward or discount factor is not a double. Either may have
// underflowed to 0 (that leg is worth nothing) or overflowed to inf: a call then is worth
// nothing against an infinite strike, a put infinitely much (reported by finite_or_error).
double discounted_price(OptionType type, double fd, double kd, double log_fk, double w_bar, const Grid* grid) {
    const bool call_type = type == OptionType::Call;
    if (std::isinf(kd)) return call_type ? 0.0 : kd;
    if (std::isinf(fd)) return call_type ? fd : 0.0;
    double call;
    if (!(w_bar > 0.0) || fd == 0.0 || kd == 0.0) {
        call = intrinsic_forward(OptionType::Call, fd, kd);
    } else {
        call = black_call_forward(fd, kd, log_fk, w_bar);
        if (grid != nullptr) call -= std::sqrt(fd) * std::sqrt(kd) / kPi * integral_on(*grid, log_fk);
    }
    const double value = call_type ? call : call - (fd - kd);
    const double floor = intrinsic_forward(type, fd, kd);
    return value < floor ? floor : value;
}

// Finite inputs give a finite price or a numerical error, never NaN or inf.
Status finite_or_error(const HestonMarket& m, const HestonParams& p, std::span<const double> strikes,
                       std::span<const double> out) {
    if (!std::isfinite(m.spot) || !std::isfinite(m.rate) || !std::isfinite(m.dividend_yield) ||
        !std::isfinite(m.t) || !std::isfinite(p.v0) || !std::isfinite(p.kappa) || !std::isfinite(p.theta) ||
        !std::isfinite(p.xi) || !std::isfinite(p.rho))
        return {};
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (!std::isfinite(strikes[i]) || std::isfinite(out[i])) continue;
        if (std::isinf(out[i]))
            return numerical("the option's price overflows: its discounted forward or strike is beyond the largest double");
        return numerical("Heston's integral gives no finite price at these inputs");
    }
    return {};
}

}  // namespace

Status validate_heston(const HestonParams& p) {
    if (p.v0 < 0.0) return invalid("v0 must be >= 0");
    if (p.kappa <= 0.0) return invalid("kappa must be > 0");
    if (p.theta < 0.0) return invalid("theta must be >= 0");
    if (p.xi < 0.0) return invalid("xi must be >= 0");
    if (p.rho < -1.0 || p.rho > 1.0) return invalid("rho must be in [-1, 1]");
    return {};
}

Result<double> heston_price(const HestonMarket& m, double strike, OptionType type, const HestonParams& p) {
    double out = 0.0;
    QUELM_CHECK(heston_prices(m, std::span<const double>(&strike, 1), std::span<const OptionType>(&type, 1), p,
                              std::span<double>(&out, 1)));
    return out;
}

Status heston_prices(const HestonMarket& m, std::span<const double> strikes, std::span<const OptionType> types,
                     const HestonParams& p, std::span<double> out, Cancel& cancel) {
    if (strikes.size() != types.size() || strikes.size() != out.size())
        return bad_argument("strikes and option types must have equal length");
    for (const double k : strikes)
        if (k <= 0.0) return invalid("strike must be > 0");
    if (m.spot < 0.0) return invalid("spot must be >= 0");
    if (m.t < 0.0) return invalid("time to expiry must be >= 0");
    QUELM_CHECK(validate_heston(p));

    const std::size_t n = strikes.size();
    if (any_nan(m.spot, m.rate, m.dividend_yield, m.t, p.v0, p.kappa, p.theta, p.xi, p.rho)) {
        std::fill(out.begin(), out.end(), kNaN);
        return {};
    }
    const double t = m.t;
    if (t == 0.0) {
        for (std::size_t i = 0; i < n; ++i) out[i] = any_nan(strikes[i]) ? kNaN : payoff(types[i], m.spot, strikes[i]);
        return {};
    }
    const double dr = quelm::exp(-m.rate * t);
    const double drift = (m.rate - m.dividend_yield) * t;
    const double f = m.spot * quelm::exp(drift);
    if (m.spot == 0.0) {
        for (std::size_t i = 0; i < n; ++i)
            out[i] = any_nan(strikes[i]) ? kNaN : types[i] == OptionType::Call ? 0.0 : strikes[i] * dr;
        return finite_or_error(m, p, strikes, out);
    }
    const double w_bar = mean_variance(p, t) * t;  // total variance of the control variate
    // Past kappa = 1e100 the variance sits at its mean path (its noise is of order
    // xi^2 / kappa^2) and the characteristic function's kappa^2 overflows: Black-Scholes.
    const bool black_scholes = p.xi == 0.0 || !(w_bar > 0.0) || p.kappa > kInstantReversion;
    const double log_s = quelm::log(m.spot);
    // The forward form prices F and K undiscounted and discounts at the end; where F
    // overflows or the discount factor leaves the doubles (rates or times so large that
    // e^(rT) does), the same formula is taken on the discounted S e^(-qT) and K e^(-rT).
    const bool forward_form = std::isfinite(f) && f > 0.0 && std::isfinite(dr) && dr > 0.0;
    const double dq = forward_form ? 0.0 : quelm::exp(-m.dividend_yield * t);

    const Plan plan = black_scholes ? Plan{} : plan_of(p, t, w_bar);
    const bool integrate = !black_scholes && w_bar > 0.0;
    // The price of strike i, with Lewis's integral on `grid` when the model needs one.
    const auto price = [&](std::size_t i, const Grid* grid) {
        const double k = strikes[i];
        const double log_fk = log_s - quelm::log(k) + drift;
        if (!forward_form) return discounted_price(types[i], m.spot * dq, k * dr, log_fk, w_bar, grid);
        double call;  // forward (undiscounted) call price
        if (!(w_bar > 0.0)) {
            call = intrinsic_forward(OptionType::Call, f, k);
        } else {
            call = black_call_forward(f, k, log_fk, w_bar);
            if (grid != nullptr) call -= std::sqrt(f * k) / kPi * integral_on(*grid, log_fk);
        }
        double value = types[i] == OptionType::Call ? call : call - (f - k);
        const double floor = intrinsic_forward(types[i], f, k);
        if (value < floor) value = floor;
        return dr * value;
    };

    // First every strike's rule, parked in out[i] as -order (a price is never negative);
    // then one pass per rule in the chain, its grid built or found once, whatever the order
    // of the strikes.
    for (std::size_t i = 0; i < n; ++i) {
        if (any_nan(strikes[i])) {
            out[i] = kNaN;
        } else if (!integrate) {
            out[i] = price(i, nullptr);
        } else {
            out[i] = -static_cast<double>(rule_of(plan, log_s - quelm::log(strikes[i]) + drift));
        }
    }
    if (!integrate) return finite_or_error(m, p, strikes, out);
    Grid own;
    own.n = 0;
    CancelPoller poll(cancel);
    for (std::size_t first = 0; first < n; ++first) {
        if (!(out[first] < 0.0)) continue;
        const double parked = out[first];
        const Grid& grid = grid_for(p, t, plan, static_cast<std::size_t>(-parked), own);
        for (std::size_t i = first; i < n; ++i) {
            if (out[i] != parked) continue;
            if (poll.tick(grid.n + 1)) return cancelled();
            out[i] = price(i, &grid);
        }
    }
    return finite_or_error(m, p, strikes, out);
}

}  // namespace quelm::volatility

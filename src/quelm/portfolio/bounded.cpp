#include "quelm/portfolio/bounded.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <string>

#include "quelm/core/text.hpp"
#include "quelm/portfolio/active_set.hpp"

namespace quelm::portfolio {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

std::string pair_text(double lo, double hi) {
    std::string s = "(";
    s += format_number(lo);
    s += ", ";
    s += format_number(hi);
    s += ")";
    return s;
}

double dot(std::span<const double> a, std::span<const double> b) {
    double s = -0.0;
    for (std::size_t i = 0; i < a.size(); ++i) s += a[i] * b[i];
    return s;
}

Status check_finite(CovSpan cov, std::span<const double> mean) {
    for (const auto& row : cov)
        for (const double v : row)
            if (!std::isfinite(v)) return invalid("optimize: covariance entries must be finite with bounds");
    for (const double v : mean)
        if (!std::isfinite(v)) return invalid("optimize: mean must be finite with bounds");
    return {};
}

// A fully invested portfolio within the bounds: each weight at 1/n clipped to its bounds,
// then what is missing (or too much) added to (taken from) the assets with room, in order.
std::vector<double> inside(const WeightBounds& b) {
    const std::size_t n = b.lower.size();
    std::vector<double> w(n);
    for (std::size_t i = 0; i < n; ++i) w[i] = std::clamp(1.0 / static_cast<double>(n), b.lower[i], b.upper[i]);
    double missing = 1.0 - std::accumulate(w.begin(), w.end(), -0.0);
    for (std::size_t i = 0; i < n && missing != 0.0; ++i) {
        const double room = missing > 0.0 ? b.upper[i] - w[i] : b.lower[i] - w[i];
        const double take = missing > 0.0 ? std::min(room, missing) : std::max(room, missing);
        w[i] += take;
        missing -= take;
    }
    return w;
}

// Moves weight from the lowest-mean assets to the highest-mean ones (or back) until the
// expected return reaches `target` or cannot move further; returns the return reached
// (±inf when it grows without bound, w then left as it was).
double shift_towards(std::vector<double>& w, std::span<const double> mean, const WeightBounds& b, double target) {
    const std::size_t n = w.size();
    std::vector<std::size_t> order(n);
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) { return mean[x] < mean[y]; });
    double reached = dot(mean, w);
    const bool up = target > reached;
    if (!up) std::reverse(order.begin(), order.end());
    // Weight moves from the front of `order` (donors) to its back (receivers).
    std::size_t from = 0, to = n;
    const auto spare = [&](std::size_t i) { return w[i] - b.lower[i]; };
    const auto room = [&](std::size_t i) { return b.upper[i] - w[i]; };
    while (up ? reached < target : reached > target) {
        while (from < n && !(spare(order[from]) > 0.0)) ++from;
        while (to > 0 && !(room(order[to - 1]) > 0.0)) --to;
        if (from >= to) break;
        const std::size_t d = order[from], r = order[to - 1];
        const double gain = mean[r] - mean[d];
        if (!(up ? gain > 0.0 : gain < 0.0)) break;
        const double needed = (target - reached) / gain;
        const double amount = std::min({spare(d), room(r), needed});
        if (std::isinf(amount)) return up ? kInf : -kInf;
        w[r] += amount;
        w[d] -= amount;
        if (amount == needed) break;
        reached = dot(mean, w);
    }
    return dot(mean, w);
}

std::vector<double> weights_of(const QpPoint& x, const WeightBounds& b) {
    std::vector<double> w(x.y.size());
    for (std::size_t i = 0; i < w.size(); ++i) {
        // A held weight is its bound exactly, not the bound scaled by κ and back; a free one
        // may stray past a bound by rounding only.
        w[i] = std::clamp(x.y[i] / x.kappa, b.lower[i], b.upper[i]);
        if (x.held[i] == Held::Lower) w[i] = b.lower[i];
        if (x.held[i] == Held::Upper) w[i] = b.upper[i];
    }
    return w;
}

BudgetQp program(const WeightBounds& b) { return BudgetQp{{}, b.lower, b.upper, {}}; }

QpRow fully_invested(std::size_t n) { return {std::vector<double>(n, 0.0), 1.0, 1.0}; }  // κ = 1

// A start for the frontier program from portfolios within the bounds: the mix of the
// nearest below the target return and the nearest above it that earns the target, each
// asset both hold at the same bound held there; false when none lies on one side.
bool mix_towards(std::span<const std::span<const double>> near, std::span<const double> mean, double target,
                 const WeightBounds& b, std::vector<double>& w, std::vector<Held>& held) {
    std::size_t below = near.size(), above = near.size();
    double r0 = -kInf, r1 = kInf;
    for (std::size_t k = 0; k < near.size(); ++k) {
        const double r = dot(mean, near[k]);
        if (r <= target && r > r0) {
            r0 = r;
            below = k;
        }
        if (r >= target && r < r1) {
            r1 = r;
            above = k;
        }
    }
    if (below == near.size() || above == near.size()) return false;
    const std::span<const double> lo_w = near[below], hi_w = near[above];
    if (!(r1 > r0)) {
        // One of them earns the target: a start, but its bounds may be more than the rows
        // leave room for, so none is held.
        std::copy(lo_w.begin(), lo_w.end(), w.begin());
        return true;
    }
    const double t = (target - r0) / (r1 - r0);
    for (std::size_t i = 0; i < w.size(); ++i) {
        w[i] = std::clamp(lo_w[i] + t * (hi_w[i] - lo_w[i]), b.lower[i], b.upper[i]);
        if (lo_w[i] == b.lower[i] && hi_w[i] == b.lower[i]) held[i] = Held::Lower;
        if (lo_w[i] == b.upper[i] && hi_w[i] == b.upper[i]) held[i] = Held::Upper;
    }
    return true;
}

}  // namespace

Result<WeightBounds> expand_bounds(const WeightBounds& bounds, std::size_t n) {
    WeightBounds b;
    if (bounds.shared) {
        b.lower.assign(n, bounds.lower.empty() ? -kInf : bounds.lower[0]);
        b.upper.assign(n, bounds.upper.empty() ? kInf : bounds.upper[0]);
    } else {
        if (bounds.lower.size() != n || bounds.upper.size() != n)
            return invalid("optimize: bounds must hold one (lower, upper) pair per asset, got " +
                           std::to_string(bounds.lower.size()) + " for " + std::to_string(n) + " assets");
        b = bounds;
    }
    double low = -0.0, high = -0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double lo = b.lower[i], hi = b.upper[i];
        if (!(lo <= hi && lo < kInf && hi > -kInf)) {
            const std::string which = bounds.shared ? "bounds" : "bounds[" + std::to_string(i) + "]";
            return invalid("optimize: " + which + " must satisfy lower <= upper, lower < inf and upper > -inf, got " +
                           pair_text(lo, hi));
        }
        low += lo;
        high += hi;
    }
    if (low > 1.0) return invalid("optimize: the bounds allow no fully invested portfolio: the lower bounds sum to " +
                                  format_number(low));
    if (high < 1.0) return invalid("optimize: the bounds allow no fully invested portfolio: the upper bounds sum to " +
                                   format_number(high));
    return b;
}

Result<QpCov> prepare_bounded(CovSpan cov) {
    QUELM_CHECK(check_finite(cov, {}));
    return QpCov(cov);
}

Result<std::vector<double>> bounded_min_variance(CovSpan cov, const WeightBounds& b, Cancel& cancel) {
    QUELM_TRY(prepared, prepare_bounded(cov));
    return bounded_min_variance(prepared, b, cancel);
}

Result<std::vector<double>> bounded_min_variance(const QpCov& cov, const WeightBounds& b, Cancel& cancel) {
    BudgetQp qp = program(b);
    qp.rows.push_back(fully_invested(cov.n));
    QUELM_TRY(x, solve_budget_qp(qp, cov, inside(b), 1.0, {}, cancel));
    return weights_of(x, b);
}

Result<std::vector<double>> bounded_frontier_point(CovSpan cov, std::span<const double> mean, double target,
                                                   const WeightBounds& b, Cancel& cancel) {
    QUELM_TRY(prepared, prepare_bounded(cov));
    return bounded_frontier_point(prepared, mean, target, b, {}, cancel);
}

Result<std::vector<double>> bounded_frontier_point(const QpCov& cov, std::span<const double> mean, double target,
                                                   const WeightBounds& b, std::span<const std::span<const double>> near,
                                                   Cancel& cancel) {
    QUELM_CHECK(check_finite({}, mean));
    if (!std::isfinite(target)) return invalid("optimize: target must be finite with bounds");
    const std::vector<double> start = inside(b);
    std::vector<double> lowest = start, highest = start, w = start;
    const double low = shift_towards(lowest, mean, b, -kInf), high = shift_towards(highest, mean, b, kInf);
    if (!(low <= target && target <= high))
        return invalid("optimize: target " + format_number(target) +
                       " is outside the expected returns the bounds allow, from " + format_number(low) + " to " +
                       format_number(high));
    // The extremes bracket the target when nothing nearer does.
    std::vector<std::span<const double>> candidates(near.begin(), near.end());
    candidates.emplace_back(lowest);
    candidates.emplace_back(highest);
    std::vector<Held> held(cov.n, Held::Free);
    BudgetQp qp = program(b);
    qp.rows.push_back(fully_invested(cov.n));
    qp.rows.push_back({std::vector<double>(mean.begin(), mean.end()), 0.0, target});
    if (mix_towards(candidates, mean, target, b, w, held)) {
        auto x = solve_budget_qp(qp, cov, w, 1.0, held, cancel);
        if (x || cancel.stopped()) return x ? Result<std::vector<double>>(weights_of(*x, b)) : std::unexpected(x.error());
        // A working set the rows cannot all be met on: the start every program can take.
        w = start;
        held.assign(cov.n, Held::Free);
    }
    shift_towards(w, mean, b, target);
    QUELM_TRY(x, solve_budget_qp(qp, cov, std::move(w), 1.0, std::move(held), cancel));
    return weights_of(x, b);
}

Result<std::vector<double>> bounded_tangency(CovSpan cov, std::span<const double> mean, double rf,
                                             const WeightBounds& b, Cancel& cancel) {
    QUELM_TRY(prepared, prepare_bounded(cov));
    return bounded_tangency(prepared, mean, rf, b, {}, cancel);
}

Result<std::vector<double>> bounded_tangency(const QpCov& cov, std::span<const double> mean, double rf,
                                             const WeightBounds& b, std::span<const double> near, Cancel& cancel) {
    QUELM_CHECK(check_finite({}, mean));
    if (!std::isfinite(rf)) return invalid("optimize: rf must be finite with bounds");
    const std::size_t n = cov.n;
    std::vector<double> excess(n);
    double spread = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        excess[i] = mean[i] - rf;
        spread = std::max(spread, std::fabs(excess[i]));
    }
    // A start that earns more than rf: as far towards rf + twice the widest spread as the
    // bounds allow.
    std::vector<double> w = inside(b);
    shift_towards(w, mean, b, rf + 2.0 * spread);
    // Holdings y = w / (excess·w) earn exactly 1 over rf per unit of budget κ = 1ᵀy.
    const double scale = dot(excess, w);
    if (!(scale > 0.0)) return invalid("optimize: no portfolio within the bounds has an expected return above rf");
    std::vector<double> y(n);
    for (std::size_t i = 0; i < n; ++i) y[i] = w[i] / scale;
    BudgetQp qp = program(b);
    // The excess row in units of its largest entry (the weights do not change with the units).
    std::vector<double> row(n);
    for (std::size_t i = 0; i < n; ++i) row[i] = excess[i] / spread;
    qp.rows.push_back({std::move(row), 0.0, 1.0 / spread});
    const double near_scale = near.empty() ? 0.0 : dot(excess, near);
    if (near_scale > 0.0) {
        // From the given portfolio and the bounds it holds: nearer the tangency portfolio
        // than the far corner above, so fewer bounds to take on one step at a time.
        std::vector<double> from(n);
        std::vector<Held> held(n, Held::Free);
        for (std::size_t i = 0; i < n; ++i) {
            from[i] = near[i] / near_scale;
            if (near[i] == b.lower[i]) held[i] = Held::Lower;
            if (near[i] == b.upper[i]) held[i] = Held::Upper;
        }
        auto x = solve_budget_qp(qp, cov, std::move(from), 1.0 / near_scale, std::move(held), cancel);
        if (x && x->kappa > 0.0) return weights_of(*x, b);
        if (cancel.stopped()) return cancelled();
        // Otherwise the plain start decides, and words any error.
    }
    QUELM_TRY(x, solve_budget_qp(qp, cov, std::move(y), 1.0 / scale, {}, cancel));
    if (!(x.kappa > 0.0))
        return invalid("optimize: within the bounds the Sharpe ratio rises without limit as the weights grow: "
                       "there is no tangency portfolio");
    return weights_of(x, b);
}

}  // namespace quelm::portfolio

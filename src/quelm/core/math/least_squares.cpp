#include "quelm/core/math/least_squares.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "quelm/core/math/linalg.hpp"

namespace quelm {

namespace {

double sum_squares(std::span<const double> r) {
    double s = 0.0;
    for (const double v : r) s += v * v;
    return s;
}

void clamp_into(std::vector<double>& x, std::span<const double> lo, std::span<const double> hi) {
    for (std::size_t i = 0; i < x.size(); ++i) x[i] = std::min(std::max(x[i], lo[i]), hi[i]);
}

}  // namespace

namespace {

// The iteration, shared by both Jacobians: `jacobian` fills jac at x (r holds the residuals
// there) and `trial` writes the residuals at a trial point, staging its Jacobian if it has one;
// `accept` takes the staged Jacobian when the trial point is kept.
template <class Jacobian, class Trial, class Accept>
Result<LsqFit> levenberg_marquardt(std::vector<double> x, std::vector<double> r, std::span<const double> lo,
                                   std::span<const double> hi, std::size_t m, const LsqSettings& settings,
                                   Cancel& cancel, std::vector<double>& jac, const Jacobian& jacobian,
                                   const Trial& trial, const Accept& accept_jacobian) {
    const std::size_t n = x.size();
    std::vector<double> r_trial(m), x_trial(n), jtj(n * n), g(n), aug(n * (n + 1)), delta(n);
    double cost = sum_squares(r);
    if (!std::isfinite(cost)) return numerical("the residuals are not finite at the starting point");

    double mu = settings.damping;
    SolveStatus status = cost <= settings.cost_floor ? SolveStatus::Converged : SolveStatus::MaxIterations;
    std::size_t it = 0;
    for (; it < settings.max_iterations && status == SolveStatus::MaxIterations; ++it) {
        if (cancel.poll()) return cancelled();
        QUELM_CHECK(jacobian(x, r, x_trial));
        std::fill(jtj.begin(), jtj.end(), 0.0);
        std::fill(g.begin(), g.end(), 0.0);
        for (std::size_t i = 0; i < m; ++i) {
            for (std::size_t a = 0; a < n; ++a) {
                g[a] += jac[i * n + a] * r[i];
                for (std::size_t b = 0; b <= a; ++b) jtj[a * n + b] += jac[i * n + a] * jac[i * n + b];
            }
        }
        for (std::size_t a = 0; a < n; ++a)
            for (std::size_t b = 0; b < a; ++b) jtj[b * n + a] = jtj[a * n + b];

        // Projected gradient: components pushing against an active bound do not count.
        double pg = 0.0;
        for (std::size_t a = 0; a < n; ++a) {
            const bool blocked = (x[a] <= lo[a] && g[a] > 0.0) || (x[a] >= hi[a] && g[a] < 0.0);
            if (!blocked) pg = std::max(pg, std::fabs(g[a]));
        }
        if (pg <= settings.gtol * std::max(cost, 1e-300) || cost == 0.0) {
            status = SolveStatus::Converged;
            break;
        }

        // Try damped steps until one lowers the cost (or the damping runs away).
        bool accepted = false;
        for (int tries = 0; tries < 30 && !accepted; ++tries) {
            for (std::size_t a = 0; a < n; ++a) {
                for (std::size_t b = 0; b < n; ++b) aug[a * (n + 1) + b] = jtj[a * n + b];
                const double diag = jtj[a * n + a] > 0.0 ? jtj[a * n + a] : 1.0;
                aug[a * (n + 1) + a] += mu * diag;
                aug[a * (n + 1) + n] = -g[a];
            }
            if (!gaussian_solve_flat(aug, n, delta)) {
                mu *= 10.0;
                continue;
            }
            for (std::size_t a = 0; a < n; ++a) x_trial[a] = x[a] + delta[a];
            clamp_into(x_trial, lo, hi);
            QUELM_CHECK(trial(x_trial, r_trial));
            const double trial_cost = sum_squares(r_trial);
            if (std::isfinite(trial_cost) && trial_cost < cost) {
                double moved = 0.0;
                for (std::size_t a = 0; a < n; ++a)
                    moved = std::max(moved, std::fabs(x_trial[a] - x[a]) / std::max(std::fabs(x[a]), 1e-8));
                const double gain = (cost - trial_cost) / cost;
                x.swap(x_trial);
                r.swap(r_trial);
                accept_jacobian();
                cost = trial_cost;
                mu = std::max(mu / 3.0, 1e-12);
                accepted = true;
                if (gain < settings.ftol || moved < settings.xtol || cost <= settings.cost_floor)
                    status = SolveStatus::Converged;
            } else {
                mu *= 4.0;
            }
        }
        if (!accepted) status = SolveStatus::Stalled;  // no step lowers the cost: a (local) minimum to rounding
    }
    return LsqFit{std::move(x), std::move(r), cost, it, status};
}

}  // namespace

Result<LsqFit> bounded_least_squares(const Residuals& f, std::vector<double> x, std::span<const double> lo,
                                     std::span<const double> hi, std::size_t m, const LsqSettings& settings,
                                     Cancel& cancel) {
    const std::size_t n = x.size();
    clamp_into(x, lo, hi);
    std::vector<double> r(m), r_step(m), jac(m * n), x_step(n);
    QUELM_CHECK(f(x, r));
    // Forward differences, stepping inwards at an upper bound.
    const auto differences = [&](const std::vector<double>& at, const std::vector<double>& r_at,
                                 std::vector<double>&) -> Status {
        for (std::size_t j = 0; j < n; ++j) {
            if (cancel.poll()) return cancelled();
            double h = 1e-7 * std::max(std::fabs(at[j]), 1e-3);
            if (at[j] + h > hi[j]) h = -h;
            x_step = at;
            x_step[j] = at[j] + h;
            QUELM_CHECK(f(x_step, r_step));
            const double step = x_step[j] - at[j];
            for (std::size_t i = 0; i < m; ++i) jac[i * n + j] = (r_step[i] - r_at[i]) / step;
        }
        return {};
    };
    const auto trial = [&](const std::vector<double>& at, std::vector<double>& r_at) { return f(at, r_at); };
    return levenberg_marquardt(std::move(x), std::move(r), lo, hi, m, settings, cancel, jac, differences, trial,
                               [] {});
}

Result<LsqFit> bounded_least_squares(const ResidualsJacobian& f, std::vector<double> x, std::span<const double> lo,
                                     std::span<const double> hi, std::size_t m, const LsqSettings& settings,
                                     Cancel& cancel) {
    const std::size_t n = x.size();
    clamp_into(x, lo, hi);
    std::vector<double> r(m), jac(m * n), jac_trial(m * n);
    QUELM_CHECK(f(x, r, jac));
    // The Jacobian comes with each trial's residuals and is kept with the point.
    const auto given = [](const std::vector<double>&, const std::vector<double>&, std::vector<double>&) -> Status {
        return {};
    };
    const auto trial = [&](const std::vector<double>& at, std::vector<double>& r_at) { return f(at, r_at, jac_trial); };
    return levenberg_marquardt(std::move(x), std::move(r), lo, hi, m, settings, cancel, jac, given, trial,
                               [&] { jac.swap(jac_trial); });
}

FitErrors fit_errors(std::span<const double> residuals, std::span<const double> weights) {
    FitErrors out{0.0, 0.0};
    double sum = 0.0, wsum = 0.0;
    for (std::size_t i = 0; i < residuals.size(); ++i) {
        const double e = residuals[i];
        if (std::isnan(e)) continue;
        const double w = weights.empty() ? 1.0 : weights[i];
        sum += w * e * e;
        wsum += w;
        out.max_error = std::max(out.max_error, std::fabs(e));
    }
    out.rmse = wsum > 0.0 ? std::sqrt(sum / wsum) : std::numeric_limits<double>::quiet_NaN();
    return out;
}

}  // namespace quelm

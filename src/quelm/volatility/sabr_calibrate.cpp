#include "quelm/volatility/sabr_calibrate.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <string>

#include "quelm/core/math/elementary.hpp"
#include "quelm/core/math/least_squares.hpp"
#include "quelm/core/memory.hpp"
#include "quelm/pricing/option.hpp"
#include "quelm/volatility/sabr_start.hpp"

namespace quelm::volatility {

Result<SabrCalibration> sabr_calibrate(double forward, std::span<const double> strikes, std::span<const double> vols,
                                       double t, double beta, std::span<const double> weights, Cancel& cancel) {
    return sabr_calibrate_model(SabrModel::Lognormal, forward, strikes, vols, t, beta, 0.0, weights, cancel);
}

Result<SabrCalibration> sabr_calibrate_model(SabrModel model, double forward, std::span<const double> strikes,
                                             std::span<const double> vols, double t, double beta, double shift,
                                             std::span<const double> weights, Cancel& cancel, double accept) {
    const std::size_t n = strikes.size();
    if (vols.size() != n) return bad_argument("strikes and vols must have equal length");
    if (!weights.empty() && weights.size() != n) return bad_argument("weights must have one entry per strike");
    if (!std::isfinite(shift)) return invalid("shift must be finite");
    // The normal model (beta = 0) takes rates of any sign; the others need them above -shift.
    const bool any_sign = model == SabrModel::Normal && beta == 0.0;
    const char* plus = shift == 0.0 ? "" : " + shift";
    if (!std::isfinite(forward) || !(any_sign || forward + shift > 0.0))
        return invalid(std::string("forward") + plus + " must be finite and > 0");
    if (!(t > 0.0) || !std::isfinite(t)) return invalid("time to expiry must be finite and > 0");
    if (!(beta >= 0.0 && beta <= 1.0)) return invalid("beta must be in [0, 1]");
    if (n < 3) return invalid("at least 3 quotes are needed to fit alpha, rho and nu");
    for (std::size_t i = 0; i < n; ++i) {
        if (!std::isfinite(strikes[i]) || !(any_sign || strikes[i] + shift > 0.0))
            return invalid(std::string("strikes") + plus + " must be finite and > 0");
        if (!(vols[i] > 0.0) || !std::isfinite(vols[i])) return invalid("vols must be finite and > 0");
        if (!weights.empty() && (!(weights[i] >= 0.0) || !std::isfinite(weights[i])))
            return invalid("weights must be finite and >= 0");
    }
    QUELM_CHECK(check_fits_in_memory(doubles_bytes(8.0 * static_cast<double>(n)), "the calibration's residuals"));

    const double f = forward + shift;
    std::vector<double> k(n);
    for (std::size_t i = 0; i < n; ++i) k[i] = strikes[i] + shift;
    const bool normal = model == SabrModel::Normal;
    const auto vol_at = [&](double strike, const SabrParams& p) {
        return normal ? sabr_normal_vol_unchecked(f, strike, t, p) : sabr_vol_unchecked(f, strike, t, p);
    };
    // alpha from the vol nearest the money: sigma_ATM ~ alpha / F^(1 - beta) (Black), alpha F^beta (normal).
    std::size_t atm = 0;
    for (std::size_t i = 1; i < n; ++i) {
        const bool nearer = normal ? std::fabs(k[i] - f) < std::fabs(k[atm] - f)
                                   : std::fabs(quelm::log(k[i] / f)) < std::fabs(quelm::log(k[atm] / f));
        if (nearer) atm = i;
    }
    const double alpha0 = normal ? (beta == 0.0 ? vols[atm] : vols[atm] / quelm::pow(f, beta))
                                 : vols[atm] * quelm::pow(f, 1.0 - beta);
    const double lo[3] = {alpha0 * 1e-4, -0.9999, 0.0};
    const double hi[3] = {alpha0 * 1e2, 0.9999, 20.0};

    const Residuals residuals = [&](std::span<const double> x, std::span<double> r) -> Status {
        const SabrParams p{x[0], beta, x[1], x[2]};
        for (std::size_t i = 0; i < n; ++i) {
            const double w = weights.empty() ? 1.0 : std::sqrt(weights[i]);
            r[i] = w * (vol_at(k[i], p) - vols[i]);
        }
        return {};
    };
    // The normal model's expansion has a closed-form gradient: one evaluation per step.
    const ResidualsJacobian residuals_jacobian = [&](std::span<const double> x, std::span<double> r,
                                                     std::span<double> jac) -> Status {
        sabr_normal0_smile_gradient(f, k, t, x[0], x[1], x[2], r, jac);
        for (std::size_t i = 0; i < n; ++i) {
            const double w = weights.empty() ? 1.0 : std::sqrt(weights[i]);
            r[i] = w * (r[i] - vols[i]);
            if (!weights.empty())
                for (std::size_t j = 0; j < 3; ++j) jac[3 * i + j] *= w;
        }
        return {};
    };
    const bool closed_form = normal && beta == 0.0;
    // A few starts across the correlation: the smile's skew can sit on either side.
    LsqSettings settings;
    settings.max_iterations = 200;
    if (closed_form) {
        // Residuals within a few units in the last place of the quotes (the expansion's own
        // rounding) are as good as a fit can be: the steps past them only confirm it.
        double largest = 0.0;
        for (std::size_t i = 0; i < n; ++i)
            largest = std::max(largest, (weights.empty() ? 1.0 : std::sqrt(weights[i])) * vols[i]);
        const double floor = 4.0 * std::numeric_limits<double>::epsilon() * largest;
        settings.cost_floor = static_cast<double>(n) * floor * floor;
        // The exact Jacobian converges quadratically: a tiny step is no sign that the cost is done.
        settings.xtol = 0.0;
    }
    Result<LsqFit> best = numerical("no start converged");
    // The normal model's closed-form guess first: on a smile near its expansion it is the only start needed.
    std::array<std::array<double, 3>, 4> starts{};
    std::size_t count = 0;
    if (closed_form && weights.empty())
        if (const auto guess = sabr_normal_start(f, k, vols, t)) starts[count++] = {guess->alpha, guess->rho, guess->nu};
    const std::size_t guessed = count;
    for (const double rho0 : {0.0, -0.5, 0.5}) starts[count++] = {alpha0, rho0, 0.5};
    for (std::size_t s = 0; s < count; ++s) {
        std::vector<double> x0(starts[s].begin(), starts[s].end());
        // The closed-form guess is near enough for Gauss-Newton steps from the first.
        settings.damping = s < guessed ? 1e-8 : LsqSettings{}.damping;
        auto fit = closed_form ? bounded_least_squares(residuals_jacobian, std::move(x0), lo, hi, n, settings, cancel)
                               : bounded_least_squares(residuals, std::move(x0), lo, hi, n, settings, cancel);
        if (!fit) {
            if (is_cancelled(fit.error())) return cancelled();
            continue;
        }
        if (!best || fit->cost < best->cost) best = std::move(fit);
        if (accept > 0.0 && fit_errors(best->residuals, weights).max_error <= accept) break;
    }
    if (!best) return std::unexpected(best.error());

    SabrCalibration out{{best->x[0], beta, best->x[1], best->x[2]}, 0.0, 0.0, best->iterations, best->converged(),
                        {}};
    if (closed_form && weights.empty()) {
        // The fit's own residuals are model minus quote already, in the same bits as vol_at's.
        out.residuals = std::move(best->residuals);
    } else {
        out.residuals.resize(n);
        for (std::size_t i = 0; i < n; ++i) out.residuals[i] = vol_at(k[i], out.params) - vols[i];
    }
    const FitErrors errors = fit_errors(out.residuals, weights);
    out.rmse = errors.rmse;
    out.max_error = errors.max_error;
    return out;
}

}  // namespace quelm::volatility

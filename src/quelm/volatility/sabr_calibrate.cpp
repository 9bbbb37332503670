#include "quelm/volatility/sabr_calibrate.hpp"

#include <cmath>

#include "quelm/core/math/elementary.hpp"
#include "quelm/core/math/least_squares.hpp"
#include "quelm/core/memory.hpp"
#include "quelm/pricing/option.hpp"

namespace quelm::volatility {

Result<SabrCalibration> sabr_calibrate(double forward, std::span<const double> strikes, std::span<const double> vols,
                                       double t, double beta, std::span<const double> weights, Cancel& cancel) {
    const std::size_t n = strikes.size();
    if (vols.size() != n) return bad_argument("strikes and vols must have equal length");
    if (!weights.empty() && weights.size() != n) return bad_argument("weights must have one entry per strike");
    if (!(forward > 0.0) || !std::isfinite(forward)) return invalid("forward must be finite and > 0");
    if (!(t > 0.0) || !std::isfinite(t)) return invalid("time to expiry must be finite and > 0");
    if (!(beta >= 0.0 && beta <= 1.0)) return invalid("beta must be in [0, 1]");
    if (n < 3) return invalid("at least 3 quotes are needed to fit alpha, rho and nu");
    for (std::size_t i = 0; i < n; ++i) {
        if (!(strikes[i] > 0.0) || !std::isfinite(strikes[i])) return invalid("strikes must be finite and > 0");
        if (!(vols[i] > 0.0) || !std::isfinite(vols[i])) return invalid("vols must be finite and > 0");
        if (!weights.empty() && (!(weights[i] >= 0.0) || !std::isfinite(weights[i])))
            return invalid("weights must be finite and >= 0");
    }
    QUELM_CHECK(check_fits_in_memory(doubles_bytes(8.0 * static_cast<double>(n)), "the calibration's residuals"));

    // alpha from the vol nearest the money: sigma_ATM ~ alpha / F^(1 - beta).
    std::size_t atm = 0;
    for (std::size_t i = 1; i < n; ++i)
        if (std::fabs(quelm::log(strikes[i] / forward)) < std::fabs(quelm::log(strikes[atm] / forward))) atm = i;
    const double fb = quelm::pow(forward, 1.0 - beta);
    const double alpha0 = vols[atm] * fb;
    const double lo[3] = {alpha0 * 1e-4, -0.9999, 0.0};
    const double hi[3] = {alpha0 * 1e2, 0.9999, 20.0};

    const Residuals residuals = [&](std::span<const double> x, std::span<double> r) -> Status {
        const SabrParams p{x[0], beta, x[1], x[2]};
        for (std::size_t i = 0; i < n; ++i) {
            const double w = weights.empty() ? 1.0 : std::sqrt(weights[i]);
            r[i] = w * (sabr_vol_unchecked(forward, strikes[i], t, p) - vols[i]);
        }
        return {};
    };
    // A few starts across the correlation: the smile's skew can sit on either side.
    LsqSettings settings;
    settings.max_iterations = 200;
    Result<LsqFit> best = numerical("no start converged");
    for (const double rho0 : {0.0, -0.5, 0.5}) {
        auto fit = bounded_least_squares(residuals, {alpha0, rho0, 0.5}, lo, hi, n, settings, cancel);
        if (!fit) {
            if (is_cancelled(fit.error())) return cancelled();
            continue;
        }
        if (!best || fit->cost < best->cost) best = std::move(fit);
    }
    if (!best) return std::unexpected(best.error());

    SabrCalibration out{{best->x[0], beta, best->x[1], best->x[2]}, 0.0, 0.0, best->iterations, best->converged(),
                        std::vector<double>(n)};
    for (std::size_t i = 0; i < n; ++i) out.residuals[i] = sabr_vol_unchecked(forward, strikes[i], t, out.params) - vols[i];
    const FitErrors errors = fit_errors(out.residuals, weights);
    out.rmse = errors.rmse;
    out.max_error = errors.max_error;
    return out;
}

}  // namespace quelm::volatility

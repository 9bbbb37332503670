#include "quelm/rates/hw_calibrate.hpp"

#include <cmath>
#include <string>

#include "quelm/core/math/least_squares.hpp"
#include "quelm/core/text.hpp"

namespace quelm::rates {

Result<HullWhiteFit> hw_calibrate(const curves::YieldCurve& curve, std::span<const Swaption> swaptions,
                                  std::span<const double> vols, const Quoting& q, std::optional<double> fix_a,
                                  Cancel& cancel) {
    const std::size_t n = swaptions.size();
    if (vols.size() != n) return bad_argument("HullWhite.calibrate: swaptions and vols must have equal length");
    const std::size_t k = fix_a ? 1 : 2;
    if (n < k) return invalid("HullWhite.calibrate: needs at least " + std::to_string(k) + " swaptions");
    if (fix_a && !(*fix_a > 0.0 && std::isfinite(*fix_a)))
        return invalid("HullWhite.calibrate: fix_a must be finite and > 0, got " + short_number(*fix_a));
    QUELM_CHECK(check_quoting(q));
    // The market prices the quotes stand for.
    std::vector<double> prices(n);
    for (std::size_t i = 0; i < n; ++i) {
        if (!(vols[i] > 0.0) || !std::isfinite(vols[i]))
            return invalid("HullWhite.calibrate: vols must be finite and > 0, got " + short_number(vols[i]));
        QUELM_TRY(p, swaption_price(swaptions[i], {&curve, &curve}, vols[i], q));
        prices[i] = p;
    }
    const auto model_of = [&](std::span<const double> x) {
        return HullWhite{fix_a ? *fix_a : x[0], x[k - 1], curve};
    };
    // A price the model cannot reach in the quotes' model counts as a large vol error.
    const auto implied = [&](const HullWhite& m, std::size_t i) -> double {
        auto p = hw_swaption_price(m, swaptions[i]);
        if (!p) return std::nan("");
        auto v = swaption_implied_vol(swaptions[i], *p, {&curve, &curve}, q);
        return v ? *v : std::nan("");
    };
    const Residuals residuals = [&](std::span<const double> x, std::span<double> r) -> Status {
        const HullWhite m = model_of(x);
        for (std::size_t i = 0; i < n; ++i) {
            const double v = implied(m, i);
            r[i] = std::isfinite(v) ? v - vols[i] : 10.0 * vols[i];
        }
        return {};
    };
    // sigma from the first quote: a normal vol is sigma's order, a Black one times the rate.
    const double level = q.model == VolModel::Bachelier ? vols[0] : vols[0] * 0.03;
    std::vector<double> x0, lo, hi;
    if (!fix_a) {
        x0.push_back(0.05);
        lo.push_back(1e-4);
        hi.push_back(2.0);
    }
    x0.push_back(level);
    lo.push_back(level * 1e-3);
    hi.push_back(level * 1e2);
    LsqSettings settings;
    settings.max_iterations = 200;
    QUELM_TRY(fit, bounded_least_squares(residuals, x0, lo, hi, n, settings, cancel));
    HullWhiteFit out{model_of(fit.x), 0.0, 0.0, fit.iterations, fit.converged(), std::vector<double>(n)};
    for (std::size_t i = 0; i < n; ++i) out.residuals[i] = implied(out.model, i) - vols[i];
    const FitErrors e = fit_errors(out.residuals, {});
    out.rmse = e.rmse;
    out.max_error = e.max_error;
    return out;
}

}  // namespace quelm::rates

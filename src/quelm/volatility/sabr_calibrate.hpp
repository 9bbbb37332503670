// Fitting SABR's alpha, rho and nu (beta fixed) to one expiry's smile of Black implied vols
// by bounded Levenberg-Marquardt from a few starts. Forward and strikes in price units,
// t in years, vols annual.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "quelm/core/cancel.hpp"
#include "quelm/core/error.hpp"
#include "quelm/volatility/sabr.hpp"

namespace quelm::volatility {

struct SabrCalibration {
    SabrParams params;
    double rmse;       // weighted root-mean-square vol error
    double max_error;  // largest absolute vol error
    std::size_t iterations;
    bool converged;
    std::vector<double> residuals;  // model minus quoted vol, per strike
};

// weights: empty (all 1) or one per strike.
[[nodiscard]] Result<SabrCalibration> sabr_calibrate(double forward, std::span<const double> strikes,
                                                     std::span<const double> vols, double t, double beta,
                                                     std::span<const double> weights, Cancel& cancel);

// The same for either expansion of sabr.hpp on shifted rates: Black vols (Lognormal) or
// normal vols (Normal) quoted at strikes, the model on forward + shift. With beta = 0 the
// normal fit takes forwards and strikes of any sign. `accept` > 0: the starts stop at the
// first whose largest vol error is within it (0: every start runs, the best kept).
[[nodiscard]] Result<SabrCalibration> sabr_calibrate_model(SabrModel model, double forward,
                                                           std::span<const double> strikes,
                                                           std::span<const double> vols, double t, double beta,
                                                           double shift, std::span<const double> weights,
                                                           Cancel& cancel, double accept = 0.0);

}  // namespace quelm::volatility

// SABR: Hagan et al.'s (2002) lognormal implied-volatility approximation. Forward and
// strike in price units, t in years, alpha in forward^(1 - beta) units per sqrt(year).
#pragma once

#include "quelm/core/error.hpp"

namespace quelm::volatility {

struct SabrParams {
    double alpha;  // initial volatility level
    double beta;   // CEV exponent, in [0, 1]
    double rho;    // correlation of the forward and volatility shocks
    double nu;     // volatility of volatility
};

// forward > 0, strike > 0, t >= 0, alpha > 0, beta in [0, 1], rho in (-1, 1), nu >= 0.
[[nodiscard]] Status validate_sabr(double forward, double strike, double t, const SabrParams& p);

// The lognormal (Black) volatility at strike; NaN in, NaN out. At the money z / x(z) -> 1
// is taken from a form that neither divides 0 by 0 nor cancels near z = 0. Where the
// expansion's time correction is not positive (long t, large nu), a numerical error: the
// expansion gives no volatility there.
[[nodiscard]] Result<double> sabr_vol(double forward, double strike, double t, const SabrParams& p);

// The formula on inputs already checked, its value taken as it is (the calibration's
// residuals; may be negative where sabr_vol reports an error).
[[nodiscard]] double sabr_vol_unchecked(double forward, double strike, double t, const SabrParams& p);

}  // namespace quelm::volatility

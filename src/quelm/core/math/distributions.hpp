// Standard normal distribution: cumulative (Hart/West rational approximation),
// density and quantile. Inputs and outputs are plain doubles.
#pragma once

#include <cmath>

#include "quelm/core/error.hpp"

namespace quelm {

// Phi(x). Total: NaN in gives NaN out; |x| > 37 saturates to 0 or 1.
[[nodiscard]] double normal_cdf(double x);

// ln Phi(x), finite far into the lower tail where Phi(x) itself underflows to 0.
[[nodiscard]] double log_normal_cdf(double x);

// A power p = base^exponent times Phi(x), as in the reflection terms of barrier and
// lookback formulas. For small volatility p overflows while Phi(x) underflows, and the
// plain product is inf * 0 = NaN (or 0 by accident where p is huge but finite). The plain
// product is kept wherever it holds, so ordinary inputs keep their bits; elsewhere the
// product is formed from ln p and ln Phi(x).
[[nodiscard]] inline bool plain_power_product(double p, double phi) {
    return std::isfinite(p) && !(p > 1.0 && phi == 0.0);
}
[[nodiscard]] inline double power_cdf_in_logs(double log_p, double x) { return std::exp(log_p + log_normal_cdf(x)); }
[[nodiscard]] double power_times_cdf(double base, double exponent, double x);

// phi(x); the divisor is the double nearest to sqrt(2*pi).
[[nodiscard]] inline double normal_pdf(double x) { return std::exp(-x * x / 2.0) / 2.5066282746310002; }

// Phi^-1(p) for 0 < p < 1, otherwise an invalid-input error.
[[nodiscard]] Result<double> normal_quantile(double p);

}  // namespace quelm

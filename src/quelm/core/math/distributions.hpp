// Standard normal distribution: cumulative (Hart/West rational approximation),
// density and quantile. Inputs and outputs are plain doubles.
#pragma once

#include <cmath>

#include "quelm/core/error.hpp"

namespace quelm {

// Phi(x). Total: NaN in gives NaN out; |x| > 37 saturates to 0 or 1.
[[nodiscard]] double normal_cdf(double x);

// phi(x); the divisor is the double nearest to sqrt(2*pi).
[[nodiscard]] inline double normal_pdf(double x) { return std::exp(-x * x / 2.0) / 2.5066282746310002; }

// Phi^-1(p) for 0 < p < 1, otherwise an invalid-input error.
[[nodiscard]] Result<double> normal_quantile(double p);

}  // namespace quelm

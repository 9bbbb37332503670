// The standard bivariate normal distribution function M(a, b; rho) = P(X <= a, Y <= b)
// for correlation |rho| <= 0.925, by Plackett's identity integrated in theta = asin(r)
// with 20-point Gauss-Legendre (A. Genz's choice for this range; about 1e-15 absolute).
#pragma once

namespace quelm {

[[nodiscard]] double bivariate_normal_cdf(double a, double b, double rho);

}  // namespace quelm

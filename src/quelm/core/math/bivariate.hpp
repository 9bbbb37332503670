// The standard bivariate normal distribution function M(a, b; rho) = P(X <= a, Y <= b)
// for correlation |rho| <= 0.925, by Plackett's identity integrated in theta = asin(r)
// with 20-point Gauss-Legendre (A. Genz's choice for this range; about 1e-15 absolute).
#pragma once

namespace quelm {

[[nodiscard]] double bivariate_normal_cdf(double a, double b, double rho);

// Four values at once, out[i] = M(a[i], b[i]; rho[i]), each with the bits of the call above:
// the integrands run in SIMD lanes (the same operations per lane), two correlations'
// nodes kept.
void bivariate_normal_cdf4(const double (&a)[4], const double (&b)[4], const double (&rho)[4], double (&out)[4]);

}  // namespace quelm

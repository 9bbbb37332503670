// The error function family to full relative precision (W. J. Cody's rational
// approximations, 1969; their lane forms are in erf_lanes.hpp), and the normal ratios built on
// them: Phi with relative accuracy in the lower tail, Phi/phi without overflow, and a fast Phi^-1.
#pragma once

namespace quelm {

// erf(x), erfc(x) = 1 - erf(x) and erfcx(x) = e^(x^2) erfc(x), each to a few ulps
// relative. erfc is not 0 until x > 26.6; erfcx is finite for every finite x >= -26.
[[nodiscard]] double erf_cody(double x);
[[nodiscard]] double erfc_cody(double x);
[[nodiscard]] double erfcx_cody(double x);

// Phi(z) = erfc(-z / sqrt 2) / 2, with relative accuracy wherever Phi(z) is a normal double.
[[nodiscard]] double normal_cdf_accurate(double z);

// Y(z) = Phi(z) / phi(z) for z <= 0 (Mills' ratio of -z): about -1/z in the lower tail,
// never overflowing or underflowing there.
[[nodiscard]] double normal_mills(double z);

// Y'(z) = 1 + z Y(z) for z <= 0 (about 1/z^2 in the lower tail), without the cancellation
// of the plain sum beyond z = -5.66; phi(z) Y'(z) = phi(z) + z Phi(z).
[[nodiscard]] double normal_mills_slope(double z);

// Both at once (one erfcx), for z <= 0.
struct MillsAndSlope {
    double y, slope;
};
[[nodiscard]] MillsAndSlope normal_mills_and_slope(double z);

// Phi^-1(p) for 0 < p < 1 (0 -> -inf, 1 -> +inf, else NaN): P. J. Acklam's rational
// approximation, relative error below 1.2e-9, then one Halley step on normal_cdf_accurate.
[[nodiscard]] double normal_quantile_fast(double p);

}  // namespace quelm

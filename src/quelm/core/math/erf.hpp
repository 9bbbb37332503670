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

// Acklam's coefficients of normal_quantile_fast: a central rational in (p - 1/2)^2, tails
// in sqrt(-2 ln p) below kLow and above 1 - kLow (shared by the scalar call and its lanes).
namespace acklam {
inline constexpr double a[] = {-3.969683028665376e+01, 2.209460984245205e+02, -2.759285104469687e+02,
                               1.383577518672690e+02,  -3.066479806614716e+01, 2.506628277459239e+00};
inline constexpr double b[] = {-5.447609879822406e+01, 1.615858368580409e+02, -1.556989798598866e+02,
                               6.680131188771972e+01,  -1.328068155288572e+01};
inline constexpr double c[] = {-7.784894002430293e-03, -3.223964580411365e-01, -2.400758277161838e+00,
                               -2.549732539343734e+00, 4.374664141464968e+00,  2.938163982698783e+00};
inline constexpr double d[] = {7.784695709041462e-03, 3.224671290700398e-01, 2.445134137142996e+00,
                               3.754408661907416e+00};
inline constexpr double kLow = 0.02425;
}  // namespace acklam

// Phi^-1(p) for 0 < p < 1 (0 -> -inf, 1 -> +inf, else NaN): P. J. Acklam's rational
// approximation, relative error below 1.2e-9, then one Halley step on normal_cdf_accurate.
[[nodiscard]] double normal_quantile_fast(double p);

}  // namespace quelm

#include "quelm/core/math/erf.hpp"

#include <cmath>
#include <limits>

#include "quelm/core/math/elementary.hpp"
#include "quelm/core/math/erf_lanes.hpp"

namespace quelm {

namespace {

using cody::kOneOverSqrtPi;
using cody::kSmall;

double erf_small(double x) { return cody::erf_small(x); }
double erfcx_middle(double y) { return cody::erfcx_middle(y); }
double erfcx_large(double y) { return cody::erfcx_large(y); }

// e^(-y^2) with y^2 split into a part exact in a double and a small rest, so the
// rounding of y*y does not reach the result (Cody's device).
double exp_minus_square(double y) {
    const double head = std::floor(y * 16.0) / 16.0;
    const double rest = (y - head) * (y + head);
    return quelm::exp(-head * head) * quelm::exp(-rest);
}

// erfc(y) for y > kSmall.
double erfc_positive(double y) {
    if (y > 26.7) return 0.0;
    return exp_minus_square(y) * (y <= 4.0 ? erfcx_middle(y) : erfcx_large(y));
}

}  // namespace

double erf_cody(double x) {
    const double y = std::fabs(x);
    if (y <= kSmall) return erf_small(x);
    const double c = erfc_positive(y);
    return x < 0.0 ? c - 1.0 : 1.0 - c;
}

double erfc_cody(double x) {
    const double y = std::fabs(x);
    if (y <= kSmall) return 1.0 - erf_small(x);
    const double c = erfc_positive(y);
    return x < 0.0 ? 2.0 - c : c;
}

double erfcx_cody(double x) {
    const double y = std::fabs(x);
    if (y <= kSmall) return quelm::exp(x * x) * (1.0 - erf_small(x));
    if (x > 0.0) return y <= 4.0 ? erfcx_middle(y) : erfcx_large(y);
    if (x < -26.6) return std::numeric_limits<double>::infinity();
    // erfcx(-y) = 2 e^(y^2) - erfcx(y)
    const double head = std::floor(y * 16.0) / 16.0;
    const double rest = (y - head) * (y + head);
    const double e = quelm::exp(head * head) * quelm::exp(rest);
    return (e + e) - (y <= 4.0 ? erfcx_middle(y) : erfcx_large(y));
}

double normal_cdf_accurate(double z) {
    constexpr double kOneOverSqrt2 = 0.70710678118654752440;
    if (z < -0.6629126073623883) return 0.5 * erfc_positive(-z * kOneOverSqrt2);  // -z/sqrt2 > kSmall
    return 0.5 * erfc_cody(-z * kOneOverSqrt2);
}

double normal_mills(double z) {
    constexpr double kOneOverSqrt2 = 0.70710678118654752440;
    constexpr double kSqrtHalfPi = 1.2533141373155002512;
    return kSqrtHalfPi * erfcx_cody(-z * kOneOverSqrt2);
}

MillsAndSlope normal_mills_and_slope(double z) {
    constexpr double kOneOverSqrt2 = 0.70710678118654752440;
    constexpr double kSqrtPi = 1.7724538509055160273;
    constexpr double kSqrtHalfPi = 1.2533141373155002512;
    const double q = -z * kOneOverSqrt2;
    if (!(q > 4.0)) {
        const double y = kSqrtHalfPi * erfcx_cody(q);
        return {y, 1.0 + z * y};
    }
    if (q >= 6.7e7) return {kSqrtHalfPi * kOneOverSqrtPi / q, 1.0 / (z * z)};
    // erfcx(q) = (1/sqrt(pi) - w R(w)) / q with w = 1/q^2, so 1 - sqrt(pi) q erfcx(q) = sqrt(pi) w R(w):
    // the slope without the cancellation of 1 + z Y.
    const double rest = cody::erfcx_large_rest(1.0 / (q * q));
    return {kSqrtHalfPi * (kOneOverSqrtPi - rest) / q, kSqrtPi * rest};
}

double normal_mills_slope(double z) { return normal_mills_and_slope(z).slope; }

double normal_quantile_fast(double p) {
    if (!(p > 0.0 && p < 1.0)) {
        if (p == 0.0) return -std::numeric_limits<double>::infinity();
        if (p == 1.0) return std::numeric_limits<double>::infinity();
        return std::numeric_limits<double>::quiet_NaN();
    }
    // Acklam's coefficients: a central rational in (p - 1/2)^2, tails in sqrt(-2 ln p).
    using namespace acklam;
    double x;
    if (p < kLow || p > 1.0 - kLow) {
        const double tail = p < kLow ? p : 1.0 - p;
        const double q = std::sqrt(-2.0 * quelm::log(tail));
        x = (((((c[0] * q + c[1]) * q + c[2]) * q + c[3]) * q + c[4]) * q + c[5]) /
            ((((d[0] * q + d[1]) * q + d[2]) * q + d[3]) * q + 1.0);
        if (p > kLow) x = -x;
    } else {
        const double q = p - 0.5;
        const double r = q * q;
        x = (((((a[0] * r + a[1]) * r + a[2]) * r + a[3]) * r + a[4]) * r + a[5]) * q /
            (((((b[0] * r + b[1]) * r + b[2]) * r + b[3]) * r + b[4]) * r + 1.0);
    }
    // One Halley step on Phi(x) - p, in the tail that keeps Phi's relative accuracy.
    const double e = x <= 0.0 ? normal_cdf_accurate(x) - p : (1.0 - p) - normal_cdf_accurate(-x);
    const double u = e * 2.5066282746310002 * quelm::exp(x * x / 2.0);
    const double refined = x - u / (1.0 + x * u / 2.0);
    return std::isfinite(refined) ? refined : x;  // subnormal p: the density overflows
}

}  // namespace quelm

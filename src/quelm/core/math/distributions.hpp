// Standard normal distribution: cumulative (Hart/West rational approximation, on quelm's
// own exp), density and quantile. Inputs and outputs are plain doubles (or lanes).
#pragma once

#include <cmath>
#include <cstddef>
#include <limits>

#include "quelm/core/error.hpp"
#include "quelm/core/math/elementary.hpp"
#include "quelm/core/math/lanes.hpp"

namespace quelm {

namespace detail {

// c[0] x^(n-1) + ... + c[n-1], highest power first, one multiply and one add per term.
template <std::size_t N, class V>
[[nodiscard]] inline V horner(const double (&c)[N], V x) {
    V v = lanes::splat<V>(c[0]);
    for (std::size_t k = 1; k < N; ++k) v = v * x + c[k];
    return v;
}

// Phi's rational approximation, used for |x| below kCdfRational (a continued fraction beyond).
inline constexpr double kCdfRational = 7.071067811865475;
inline constexpr double kCdfNum[] = {0.03526249659989109, 0.700383064443688, 6.37396220353165, 33.912866078383,
                                     112.079291497871,    221.213596169931,  220.206867912376};
inline constexpr double kCdfDen[] = {0.08838834764831845, 1.75566716318264, 16.064177579207,  86.7807322029461,
                                     296.564248779674,    637.333633378831, 793.826512519948, 440.413735824752};

}  // namespace detail

// Phi(x) and the e^(-x^2/2) it computed on the way (NaN where it saturated, |x| > 37):
// a caller that needs the density at the same x divides e by sqrt(2 pi) instead of
// calling exp again, with the same bits.
struct CdfAndExp {
    double cdf;
    double e;
};

// Phi(x) in two steps, for code that runs many at once: the exponential Phi needs (NaN
// where it saturates), then Phi from it. The lane forms take a lanes.hpp type (double, or
// 2, 4, 8 doubles) and give every lane the scalar call's bits; the scalar forms are their
// one-lane instances.
template <class V>
[[nodiscard]] inline V normal_cdf_exp_lanes(V x) {
    const V a = lanes::abs(x);
    const V e = exp_lanes(-a * a / 2.0);
    return lanes::select(a > 37.0, lanes::splat<V>(std::numeric_limits<double>::quiet_NaN()), e);
}
template <class V>
[[nodiscard]] inline V normal_cdf_given_exp_lanes(V x, V e) {
    const V a = lanes::abs(x);
    const auto rational = a < detail::kCdfRational;
    V c_rational{}, c_fraction{};
    if (lanes::any(rational)) c_rational = e * detail::horner(detail::kCdfNum, a) / detail::horner(detail::kCdfDen, a);
    if (!lanes::all(rational)) {
        V b = a + 0.65;
        b = a + 4.0 / b;
        b = a + 3.0 / b;
        b = a + 2.0 / b;
        b = a + 1.0 / b;
        c_fraction = e / b / 2.5066282746310007;
    }
    const V c = lanes::select(rational, c_rational, c_fraction);
    const auto positive = x > 0.0;
    const V phi = lanes::select(positive, 1.0 - c, c);
    return lanes::select(a > 37.0, lanes::select(positive, lanes::splat<V>(1.0), lanes::splat<V>(0.0)), phi);
}
[[nodiscard]] inline double normal_cdf_exp(double x) { return normal_cdf_exp_lanes<double>(x); }
[[nodiscard]] inline double normal_cdf_given_exp(double x, double e) { return normal_cdf_given_exp_lanes<double>(x, e); }

// Phi(x). Total: NaN in gives NaN out; |x| > 37 saturates to 0 or 1. Inline: the closed
// forms take two or three at once, and their independent chains then overlap.
[[nodiscard]] inline CdfAndExp normal_cdf_and_exp(double x) {
    const double e = normal_cdf_exp(x);
    return {normal_cdf_given_exp(x, e), e};
}

[[nodiscard]] inline double normal_cdf(double x) { return normal_cdf_and_exp(x).cdf; }

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
[[nodiscard]] inline double power_cdf_in_logs(double log_p, double x) { return quelm::exp(log_p + log_normal_cdf(x)); }
[[nodiscard]] double power_times_cdf(double base, double exponent, double x);

// phi(x); the divisor is the double nearest to sqrt(2*pi).
template <class V>
[[nodiscard]] inline V normal_pdf_of_exp(V e) {  // e = e^(-x^2/2)
    return e / 2.5066282746310002;
}
[[nodiscard]] inline double normal_pdf(double x) { return normal_pdf_of_exp(quelm::exp(-x * x / 2.0)); }

// Phi^-1(p) for 0 < p < 1, otherwise an invalid-input error.
[[nodiscard]] Result<double> normal_quantile(double p);

}  // namespace quelm


// The few complex operations the characteristic-function pricers need, on quelm's own
// elementary functions (std::complex's exp/log/sqrt call the C library). Plain value type,
// operations written out so every result has the same bits on every platform.
#pragma once

#include <cmath>

#include "quelm/core/math/elementary.hpp"

namespace quelm {

struct Cx {
    double re = 0.0;
    double im = 0.0;
};

[[nodiscard]] constexpr Cx operator+(Cx a, Cx b) { return {a.re + b.re, a.im + b.im}; }
[[nodiscard]] constexpr Cx operator-(Cx a, Cx b) { return {a.re - b.re, a.im - b.im}; }
[[nodiscard]] constexpr Cx operator-(Cx a) { return {-a.re, -a.im}; }
[[nodiscard]] constexpr Cx operator*(Cx a, Cx b) { return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re}; }
[[nodiscard]] constexpr Cx operator*(double s, Cx a) { return {s * a.re, s * a.im}; }
[[nodiscard]] constexpr Cx operator+(double s, Cx a) { return {s + a.re, a.im}; }
[[nodiscard]] constexpr Cx operator-(double s, Cx a) { return {s - a.re, -a.im}; }

// a / b by Smith's method: no overflow of |b|^2 for large b, no underflow for small b.
[[nodiscard]] constexpr Cx operator/(Cx a, Cx b) {
    // One division for the scale, shared by both parts (a multiplication is cheaper).
    if (std::fabs(b.re) >= std::fabs(b.im)) {
        const double r = b.im / b.re;
        const double inv = 1.0 / (b.re + b.im * r);
        return {(a.re + a.im * r) * inv, (a.im - a.re * r) * inv};
    }
    const double r = b.re / b.im;
    const double inv = 1.0 / (b.re * r + b.im);
    return {(a.re * r + a.im) * inv, (a.im * r - a.re) * inv};
}
[[nodiscard]] constexpr Cx operator/(double s, Cx b) { return Cx{s, 0.0} / b; }

// |z| without overflow or underflow of the squares.
[[nodiscard]] inline double cabs(Cx z) {
    const double a = std::fabs(z.re), b = std::fabs(z.im);
    const double big = a > b ? a : b, small = a > b ? b : a;
    if (big == 0.0 || std::isinf(big)) return big + small;  // inf stays inf, NaN stays NaN
    const double r = small / big;
    return big * std::sqrt(1.0 + r * r);
}

// sin x and cos x from one argument reduction: each has the bits of quelm::sin(x) and
// quelm::cos(x) (the same kernels on the same reduced argument, chosen by quadrant).
struct SinCos {
    double sin, cos;
};
[[nodiscard]] inline SinCos sincos(double x) {
    namespace E = elementary_detail;
    const double ax = std::fabs(x);
    if (ax < 0x1p-26) return {x, quelm::cos(x)};  // sin's and cos's own tiny-argument shortcuts
    if (!(ax < E::kInf)) return {x - x, x - x};
    const E::Reduced r = E::reduce_pio2(x);
    const double s = E::sin_kernel(r.hi, r.lo), c = E::cos_kernel(r.hi, r.lo);
    switch (r.n) {
        case 0: return {s, c};
        case 1: return {c, -s};
        case 2: return {-s, -c};
        default: return {-c, s};
    }
}

// e^z.
[[nodiscard]] inline Cx cexp(Cx z) {
    const double m = quelm::exp(z.re);
    if (z.im == 0.0) return {m, 0.0};
    const SinCos sc = sincos(z.im);
    return {m * sc.cos, m * sc.sin};
}

// e^z - 1, accurate for small |z| (the real part without cancellation).
[[nodiscard]] inline Cx cexpm1(Cx z) {
    const double em1 = quelm::expm1(z.re);
    if (z.im == 0.0) return {em1, 0.0};
    // cos b - 1 = -2 sin^2(b/2) and sin b = 2 sin(b/2) cos(b/2): two calls, no cancellation.
    const SinCos half = sincos(z.im / 2.0);
    const double s = half.sin, c = half.cos;
    return {-2.0 * s * s + em1 * (1.0 - 2.0 * s * s), (em1 + 1.0) * (2.0 * s * c)};
}

// Principal logarithm: real part ln|z|, imaginary part in (-pi, pi].
[[nodiscard]] inline Cx clog(Cx z) { return {quelm::log(cabs(z)), quelm::atan2(z.im, z.re)}; }

// ln(1 + z), principal branch, accurate for small |z|.
[[nodiscard]] inline Cx clog1p(Cx z) {
    const double x = z.re, y = z.im;
    if (std::fabs(x) < 0.5 && std::fabs(y) < 0.5) {
        // |1 + z|^2 - 1 = 2x + x^2 + y^2 without forming 1 + x first.
        return {quelm::log1p(x * (2.0 + x) + y * y) / 2.0, quelm::atan2(y, 1.0 + x)};
    }
    return clog({1.0 + x, y});
}

// Principal square root (real part >= 0), without overflow.
[[nodiscard]] inline Cx csqrt(Cx z) {
    if (z.re == 0.0 && z.im == 0.0) return {0.0, z.im};
    const double t = std::sqrt((std::fabs(z.re) + cabs(z)) / 2.0);
    if (z.re >= 0.0) return {t, z.im / (2.0 * t)};
    return {std::fabs(z.im) / (2.0 * t), std::copysign(t, z.im)};
}

}  // namespace quelm

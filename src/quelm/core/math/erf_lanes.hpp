// W. J. Cody's rational approximations of the error function family (1969), written once
// as lane templates (lanes.hpp): erf on |y| <= 0.46875, erfcx(y) = e^(y^2) erfc(y) on
// (0.46875, 4] and beyond 4. The scalar functions in erf.cpp and the normal CDF in
// distributions.hpp are their instances, so every lane has the scalar call's bits.
#pragma once

#include <cstddef>

#include "quelm/core/math/lanes.hpp"

namespace quelm::cody {

// erf on |x| <= kSmall (A/B, in x^2), erfcx on (kSmall, 4] (C/D), erfcx beyond 4 (P/Q, in 1/x^2).
inline constexpr double kA[] = {3.16112374387056560e00, 1.13864154151050156e02, 3.77485237685302021e02,
                                3.20937758913846947e03, 1.85777706184603153e-1};
inline constexpr double kB[] = {2.36012909523441209e01, 2.44024637934444173e02, 1.28261652607737228e03,
                                2.84423683343917062e03};
inline constexpr double kC[] = {5.64188496988670089e-1, 8.88314979438837594e00, 6.61191906371416295e01,
                                2.98635138197400131e02, 8.81952221241769090e02, 1.71204761263407058e03,
                                2.05107837782607147e03, 1.23033935479799725e03, 2.15311535474403846e-8};
inline constexpr double kD[] = {1.57449261107098347e01, 1.17693950891312499e02, 5.37181101862009858e02,
                                1.62138957456669019e03, 3.29079923573345963e03, 4.36261909014324716e03,
                                3.43936767414372164e03, 1.23033935480374942e03};
inline constexpr double kP[] = {3.05326634961232344e-1, 3.60344899949804439e-1, 1.25781726111229246e-1,
                                1.60837851487422766e-2, 6.58749161529837803e-4, 1.63153871373020978e-2};
inline constexpr double kQ[] = {2.56852019228982242e00, 1.87295284992346725e00, 5.27905102951428412e-1,
                                6.05183413124413191e-2, 2.33520497626869185e-3};
inline constexpr double kOneOverSqrtPi = 0.56418958354775628695;
inline constexpr double kSmall = 0.46875;
inline constexpr double kTiny = 1.11e-16;  // below it erf(x) = 2x/sqrt(pi) to the last bit

// Cody's numerator and denominator in z, in his order of operations: p[K+1]·z, then
// K steps of (· + p[i])·z, then + p[K] (the same for q, from z itself).
template <class V>
struct Terms {
    V num, den;
};
template <std::size_t K, class V, std::size_t NP, std::size_t NQ>
[[nodiscard]] inline Terms<V> cody_terms(V z, const double (&p)[NP], const double (&q)[NQ]) {
    static_assert(K + 1 < NP && K < NQ);
    V num = p[K + 1] * z;
    V den = z;
    for (std::size_t i = 0; i < K; ++i) {
        num = (num + p[i]) * z;
        den = (den + q[i]) * z;
    }
    return {num + p[K], den + q[K]};
}

// erf(x) for |x| <= kSmall.
template <class V>
[[nodiscard]] inline V erf_small(V x) {
    const auto [num, den] = cody_terms<3>(x * x, kA, kB);
    const V r = x * num / den;
    return lanes::select(lanes::abs(x) <= kTiny, x * kA[3] / kB[3], r);
}

// erfcx(y) for kSmall < y <= 4.
template <class V>
[[nodiscard]] inline V erfcx_middle(V y) {
    const auto [num, den] = cody_terms<7>(y, kC, kD);
    return num / den;
}

// w R(w) with w = 1/y^2, for y > 4: erfcx(y) = (1/sqrt(pi) - w R(w)) / y.
template <class V>
[[nodiscard]] inline V erfcx_large_rest(V w) {
    const auto [num, den] = cody_terms<4>(w, kP, kQ);
    return w * num / den;
}

// erfcx(y) for y > 4.
template <class V>
[[nodiscard]] inline V erfcx_large(V y) {
    const V r = (kOneOverSqrtPi - erfcx_large_rest(1.0 / (y * y))) / y;
    return lanes::select(y >= 6.7e7, kOneOverSqrtPi / y, r);  // 1/y^2 below the last bit of 1/sqrt(pi)
}

}  // namespace quelm::cody


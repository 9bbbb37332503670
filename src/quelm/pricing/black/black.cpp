#include "quelm/pricing/black/black.hpp"

#include <cmath>
#include <limits>

#include "quelm/core/math/elementary.hpp"
#include "quelm/core/math/erf.hpp"

namespace quelm {

namespace {

constexpr double kOneOverSqrtTwoPi = 0.39894228040143267794;
constexpr double kOneOverSqrt2 = 0.70710678118654752440;
// Region bounds (Jaeckel): the asymptotic expansion below h = x/s = -10, the Taylor
// expansion in t = s/2 below 2 eps^(1/16), where its ninth term is below the last bit.
constexpr double kAsymptoticH = -10.0;
constexpr double kSmallT = 0.21022410381342863;
constexpr double kCodySplit = 0.46875;  // where Cody's erfc switches from 1 - erf to e^(-q^2) erfcx

// Y(h+t) - Y(h-t) with Y(z) = Phi(z)/phi(z), from Y(-u) ~ sum_k (-1)^k (2k-1)!! u^-(2k+1),
// u = -(h+t) >= 9.79, v = t - h. Each difference u^-n - v^-n is 2t S_n with S_n the
// positive sum u^-1 v^-n + ... + u^-n v^-1, so nothing cancels but the alternating series.
double mills_difference_asymptotic(double h, double t) {
    const double u = -(h + t);
    const double v = t - h;
    const double iu = 1.0 / u;
    const double iv = 1.0 / v;
    double pu = iu;
    double s_n = iu * iv;
    double sum = s_n;
    double coefficient = 1.0;
    for (int k = 1; k < 40; ++k) {
        pu *= iu;
        s_n = (s_n + pu) * iv;
        pu *= iu;
        s_n = (s_n + pu) * iv;
        coefficient *= -(2.0 * k - 1.0);
        const double term = coefficient * s_n;
        sum += term;
        if (std::fabs(term) <= 1e-17 * sum) break;
    }
    return 2.0 * t * sum;
}

// The same difference as 2 sum_{j odd} Y^(j)(h) t^j / j!, with Y' = 1 + hY and
// Y^(n+1) = h Y^(n) + n Y^(n-1); t^17 is the last term that reaches the last bit.
double mills_difference_small_t(double h, double t) {
    const MillsAndSlope m = normal_mills_and_slope(h);
    double y_prev = m.y;  // Y
    double y = m.slope;   // Y'
    const double t2 = t * t;
    double power = t;  // t^j
    double sum = y * power;
    for (int n = 1, j = 1; n < 17; n += 2, ++j) {
        const double y_next = h * y + n * y_prev;       // Y^(n+1)
        const double y_odd = h * y_next + (n + 1) * y;  // Y^(n+2)
        power *= t2;
        sum += y_odd * (power * kInverseFactorial[j]);
        y_prev = y_next;
        y = y_odd;
    }
    return 2.0 * sum;
}

}  // namespace

double normalised_intrinsic_magnitude(double x) {
    const double m = quelm::expm1(x / 2.0);
    return m * (m + 2.0) / (m + 1.0);
}

BlackAndVega normalised_black_call_otm_and_vega(double x, double s) {
    if (!(s > 0.0)) return {std::isnan(s) || std::isnan(x) ? kNaN : 0.0, normalised_vega(x, s)};
    if (std::isinf(s)) return {quelm::exp(x / 2.0), 0.0};
    const double h = x / s;
    const double t = s / 2.0;
    const double damp = quelm::exp(-(h * h + t * t) / 2.0);
    const double vega = kOneOverSqrtTwoPi * damp;
    if (h < kAsymptoticH && h + t < kAsymptoticH + kSmallT) return {vega * mills_difference_asymptotic(h, t), vega};
    if (t < kSmallT) return {vega * mills_difference_small_t(h, t), vega};
    // 2b = e^(x/2) erfc(q1) - e^(-x/2) erfc(q2) = e^(-(h^2+t^2)/2) (erfcx(q1) - erfcx(q2)),
    // each term in the form that neither overflows nor loses its leading digits.
    const double q1 = -(h + t) * kOneOverSqrt2;
    const double q2 = (t - h) * kOneOverSqrt2;
    double two_b;
    if (q1 < kCodySplit) {
        const double half = quelm::exp(x / 2.0);
        const double second = q2 < kCodySplit ? erfc_cody(q2) / half : damp * erfcx_cody(q2);
        two_b = half * erfc_cody(q1) - second;
    } else {
        two_b = damp * (erfcx_cody(q1) - erfcx_cody(q2));
    }
    const double b = two_b / 2.0;
    return {b > 0.0 ? b : 0.0, vega};
}

LogBlack log_normalised_black_call_otm(double x, double s) {
    const double h = x / s;
    const double t = s / 2.0;
    double mills;  // b / vega
    if (h < kAsymptoticH && h + t < kAsymptoticH + kSmallT) {
        mills = mills_difference_asymptotic(h, t);
    } else if (t < kSmallT) {
        mills = mills_difference_small_t(h, t);
    } else {
        const double q1 = -(h + t) * kOneOverSqrt2;
        const double q2 = (t - h) * kOneOverSqrt2;
        if (q1 >= kCodySplit) {
            mills = 1.2533141373155002 * (erfcx_cody(q1) - erfcx_cody(q2));  // sqrt(2 pi) / 2
        } else {
            const BlackAndVega bv = normalised_black_call_otm_and_vega(x, s);
            mills = bv.b / bv.vega;
        }
    }
    // ln vega = -(h^2 + t^2) / 2 - ln sqrt(2 pi), kept apart from the exponential that underflows.
    return {-(h * h + t * t) / 2.0 - 0.91893853320467274178 + quelm::log(mills), mills};
}

double normalised_black_call_otm(double x, double s) { return normalised_black_call_otm_and_vega(x, s).b; }

double normalised_black(double x, double s, double theta) {
    const double otm = normalised_black_call_otm(-std::fabs(x), s);
    return theta * x > 0.0 ? normalised_intrinsic_magnitude(std::fabs(x)) + otm : otm;
}

double normalised_vega(double x, double s) {
    if (!(s > 0.0)) return x == 0.0 && s == 0.0 ? kOneOverSqrtTwoPi : 0.0;  // the limit s -> 0
    const double h = x / s;
    const double t = s / 2.0;
    return kOneOverSqrtTwoPi * quelm::exp(-(h * h + t * t) / 2.0);
}

double black(double forward, double strike, double s, double theta) {
    if (any_nan(forward, strike, s)) return kNaN;
    const double intrinsic = theta * (forward - strike) > 0.0 ? theta * (forward - strike) : 0.0;
    if (s == 0.0 || forward == 0.0) return intrinsic;
    if (std::isinf(s)) return theta > 0.0 ? forward : strike;
    const double x = quelm::log(forward / strike);
    return intrinsic + std::sqrt(forward) * std::sqrt(strike) * normalised_black_call_otm(-std::fabs(x), s);
}

double normalised_bachelier_otm(double d) {
    if (std::isnan(d)) return kNaN;
    if (d == -std::numeric_limits<double>::infinity()) return 0.0;
    return kOneOverSqrtTwoPi * quelm::exp(-d * d / 2.0) * normal_mills_slope(d);
}

double bachelier_undiscounted(double forward, double strike, double s, double theta) {
    if (any_nan(forward, strike, s)) return kNaN;
    const double moneyness = theta * (forward - strike);
    const double intrinsic = moneyness > 0.0 ? moneyness : 0.0;
    if (s == 0.0) return intrinsic;
    if (std::isinf(s)) return s;
    return intrinsic + s * normalised_bachelier_otm(-std::fabs(moneyness) / s);
}

}  // namespace quelm

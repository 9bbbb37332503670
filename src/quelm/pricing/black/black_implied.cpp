#include "quelm/pricing/black/black_implied.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "quelm/pricing/black/black.hpp"
#include "quelm/core/math/elementary.hpp"
#include "quelm/core/math/erf.hpp"
#include "quelm/core/math/rational_cubic.hpp"

namespace quelm {

namespace {

constexpr double kEps = 2.220446049250313e-16;
constexpr double kTiny = 2.2250738585072014e-308;
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr int kMaxSteps = 2;  // from the rational-cubic guess, two steps reach the last bits
constexpr double kConverged = 1e-6;

constexpr double kTwoPi = 6.283185307179586;
constexpr double kSqrtThree = 1.7320508075688772;
constexpr double kTwoPiOverSqrt27 = 1.2091995761561452;    // 2 pi / sqrt(27)
constexpr double kSqrtThreeOverCbrtTwoPi = 0.9379427491379235;  // sqrt(3) / (2 pi)^(1/3)
constexpr double kSqrtHalfPi = 1.2533141373155002;

// Householder's method of order three as a factor on the Newton step, from the ratios
// f''/f' and f'''/f' of the objective.
double householder_factor(double newton, double halley, double hh3) {
    return (1.0 + 0.5 * halley * newton) / (1.0 + newton * (halley + hh3 * newton / 6.0));
}

// The lower map f(s) = 2 pi |x| / sqrt(27) Phi(-|x| / (sqrt(3) s))^3, which tracks the
// price where it is smallest, and its first two derivatives with respect to the price.
struct Map {
    double f, fp, fpp;
};
Map lower_map(double x, double s) {
    const double ax = std::fabs(x);
    const double z = ax / (kSqrtThree * s);
    const double y = z * z;
    const double s2 = s * s;
    const double phi_minus = normal_cdf_accurate(-z);
    const double density = 0.3989422804014327 * quelm::exp(-y / 2.0);
    const double grow = quelm::exp(y + 0.125 * s2);  // e^(2y + s^2/4) is its square
    Map m{};
    m.fpp = kTwoPi * y / s * phi_minus * (grow * grow) * (2.0 * z + (0.25 * s2 - 2.0 - 2.0 * y) * phi_minus / density);
    if (s < kTiny) {
        m.fp = 1.0;
        m.f = 0.0;
        return m;
    }
    const double phi2 = phi_minus * phi_minus;
    m.fp = kTwoPi * y * phi2 * grow;
    m.f = kTwoPiOverSqrt27 * ax * phi2 * phi_minus;
    return m;
}

double inverse_lower_map(double x, double f) {
    if (!(f > 0.0)) return 0.0;
    return std::fabs(x / (kSqrtThree * normal_quantile_fast(kSqrtThreeOverCbrtTwoPi * quelm::pow(f / std::fabs(x), 1.0 / 3.0))));
}

// The upper map f(s) = Phi(-s/2), which tracks b_max - price where the price is largest.
Map upper_map(double x, double s) {
    Map m{};
    m.f = normal_cdf_accurate(-0.5 * s);
    const double w = (x / s) * (x / s);
    m.fp = -0.5 * quelm::exp(0.5 * w);
    m.fpp = kSqrtHalfPi * quelm::exp(w + 0.125 * s * s) * w / s;
    return m;
}

double inverse_upper_map(double f) { return -2.0 * normal_quantile_fast(f); }

// b''/b' and b'''/b' of the normalised price in s.
struct Shape {
    double halley, hh3;
};
Shape shape(double x, double s) {
    const double h = x / s;
    const double halley = h * h / s - s / 4.0;
    return {halley, halley * halley - 3.0 * (h / s) * (h / s) - 0.25};
}

// Which objective the steps solve: 1/ln b = 1/ln beta where the price is tiny, b = beta in
// the middle, ln(b_max - b) = ln(b_max - beta) where it nears its limit.
enum class Objective { Lower, Middle, Upper };

double refine(double beta, double x, double s, double s_left, double s_right, double b_max, Objective objective) {
    const double ln_beta = objective == Objective::Lower ? quelm::log(beta) : 0.0;
    double ds = -kInf;
    for (int i = 0; i < kMaxSteps && std::fabs(ds) > kEps * s; ++i) {
        const auto [b, bp] = normalised_black_call_otm_and_vega(x, s);
        if (b > beta && s < s_right) s_right = s;
        else if (b < beta && s > s_left) s_left = s;
        const Shape sh = shape(x, s);
        if (objective == Objective::Lower) {
            if (!(b > 0.0) || !(bp > 0.0)) {
                ds = 0.5 * (s_left + s_right) - s;
            } else {
                const double ln_b = quelm::log(b);
                const double p = bp / b;
                const double newton = (ln_beta - ln_b) * ln_b / ln_beta / p;
                const double halley = sh.halley - p * (1.0 + 2.0 / ln_b);
                const double hh3 = sh.hh3 + 2.0 * p * p * (1.0 + 3.0 / ln_b * (1.0 + 1.0 / ln_b)) -
                                   3.0 * sh.halley * p * (1.0 + 2.0 / ln_b);
                ds = newton * householder_factor(newton, halley, hh3);
            }
        } else if (objective == Objective::Upper) {
            if (!(b < b_max) || !(bp > kTiny)) {
                ds = 0.5 * (s_left + std::min(s_right, 2.0 * s + 1.0)) - s;
            } else {
                const double gap = b_max - b;
                const double g = quelm::log((b_max - beta) / gap);
                const double gp = bp / gap;
                const double newton = -g / gp;
                const double halley = sh.halley + gp;
                const double hh3 = sh.hh3 + gp * (2.0 * gp + 3.0 * sh.halley);
                ds = newton * householder_factor(newton, halley, hh3);
            }
        } else {
            if (!(bp > 0.0)) {
                ds = 0.5 * (s_left + s_right) - s;
            } else {
                const double newton = (beta - b) / bp;
                ds = newton * householder_factor(newton, sh.halley, sh.hh3);
            }
        }
        ds = std::max(-0.5 * s, ds);
        s += ds;
        // Convergence of order four: a step this small leaves an error far below the last bit.
        if (std::fabs(ds) <= kConverged * s) break;
    }
    return s;
}

// x <= 0, 0 < beta < b_max = e^(x/2): the out-of-the-money call.
double implied_otm_call(double beta, double x) {
    const double b_max = quelm::exp(0.5 * x);
    const double s_c = std::sqrt(std::fabs(2.0 * x));
    const auto [b_c, v_c] = normalised_black_call_otm_and_vega(x, s_c);
    if (beta < b_c) {
        const double s_l = s_c - b_c / v_c;
        const auto [b_l, v_l] = normalised_black_call_otm_and_vega(x, s_l);
        if (beta < b_l) return refine(beta, x, implied_lower_guess(beta, x, s_l, b_l), 0.0, s_l, b_max, Objective::Lower);
        const double r = rational_cubic_r_for_right(b_l, b_c, s_l, s_c, 1.0 / v_l, 1.0 / v_c, 0.0, false);
        const double s = rational_cubic(beta, b_l, b_c, s_l, s_c, 1.0 / v_l, 1.0 / v_c, r);
        return refine(beta, x, s, s_l, s_c, b_max, Objective::Middle);
    }
    const double s_u = v_c > kTiny ? s_c + (b_max - b_c) / v_c : s_c;
    const auto [b_u, v_u] = normalised_black_call_otm_and_vega(x, s_u);
    if (beta <= b_u) {
        const double r = rational_cubic_r_for_left(b_c, b_u, s_c, s_u, 1.0 / v_c, 1.0 / v_u, 0.0, false);
        const double s = rational_cubic(beta, b_c, b_u, s_c, s_u, 1.0 / v_c, 1.0 / v_u, r);
        return refine(beta, x, s, s_c, s_u, b_max, Objective::Middle);
    }
    return refine(beta, x, implied_upper_guess(beta, x, s_u, b_u, b_max), s_u, kInf, b_max, Objective::Upper);
}

// x < 0 and ln beta below the log of the smallest normal double: beta itself is not a
// double (or has lost its digits), so Newton runs on ln b(s) = ln beta, d(ln b)/ds = 1 / mills.
// ln b is increasing and concave in s this far down, so Newton from the left (the first
// guess from ln b ~ -x^2 / (2 s^2), which lies below the root) climbs to the root without
// overshooting; the bracket guards the rest.
double implied_from_log_price(double ln_beta, double x) {
    if (ln_beta >= 0.5 * x) return kInf;  // at or above the price's limit e^(x/2)
    double lo = 0.0, hi = kInf;
    double s = std::fabs(x) / std::sqrt(-2.0 * ln_beta);
    for (int i = 0; i < 100; ++i) {
        const LogBlack l = log_normalised_black_call_otm(x, s);
        const double g = l.log_b - ln_beta;
        if (g < 0.0) lo = s;
        else if (g > 0.0) hi = s;
        else return s;
        double next = s - g * l.mills;
        if (!(next > lo && next < hi)) next = std::isinf(hi) ? 2.0 * s : 0.5 * (lo + hi);
        const bool done = std::fabs(next - s) <= 4.0 * kEps * s;
        s = next;
        if (done) break;
    }
    return s;
}

}  // namespace

double implied_lower_guess(double beta, double x, double s_l, double b_l) {
    const Map m = lower_map(x, s_l);
    const double r = rational_cubic_r_for_right(0.0, b_l, 0.0, m.f, 1.0, m.fp, m.fpp, true);
    double f = rational_cubic(beta, 0.0, b_l, 0.0, m.f, 1.0, m.fp, r);
    if (!(f > 0.0)) {  // the cubic undershot: its straight-line bound instead
        const double t = beta / b_l;
        f = (m.f * t + b_l * (1.0 - t)) * t;
    }
    return inverse_lower_map(x, f);
}

double implied_upper_guess(double beta, double x, double s_u, double b_u, double b_max) {
    const Map m = upper_map(x, s_u);
    const double r = rational_cubic_r_for_left(b_u, b_max, m.f, 0.0, m.fp, -0.5, m.fpp, true);
    double f = rational_cubic(beta, b_u, b_max, m.f, 0.0, m.fp, -0.5, r);
    if (!(f > 0.0)) {
        const double h = b_max - b_u;
        const double t = (beta - b_u) / h;
        f = (m.f * (1.0 - t) + 0.5 * h * t) * (1.0 - t);
    }
    return inverse_upper_map(f);
}

double implied_otm_call_volatility(double beta, double x) { return implied_otm_call(beta, x); }

OtmQuote normalised_otm_quote(double beta, double x, double theta) {
    if (std::isnan(beta) || std::isnan(x)) return {beta, x, std::numeric_limits<double>::quiet_NaN(), false};
    if (theta * x > 0.0) beta -= normalised_intrinsic_magnitude(std::fabs(x));
    x = -std::fabs(x);
    if (!(beta > 0.0)) return {beta, x, 0.0, false};
    if (beta >= quelm::exp(0.5 * x)) return {beta, x, kInf, false};
    return {beta, x, 0.0, true};
}

double implied_normalised_volatility(double beta, double x, double theta) {
    const OtmQuote q = normalised_otm_quote(beta, x, theta);
    return q.solve ? implied_otm_call(q.beta, q.x) : q.answer;
}

OtmQuote black_otm_quote(double price, double forward, double strike, double theta) {
    const double intrinsic = theta * (forward - strike) > 0.0 ? theta * (forward - strike) : 0.0;
    const double otm = price - intrinsic;  // exact where the price is near the intrinsic value
    if (std::isnan(otm)) return {otm, 0.0, std::numeric_limits<double>::quiet_NaN(), false};
    if (!(otm > 0.0)) return {otm, 0.0, 0.0, false};
    const double x = quelm::log(forward / strike);
    const double beta = otm / (std::sqrt(forward) * std::sqrt(strike));
    if (beta < kTiny && x != 0.0 && std::isfinite(x)) {
        // A positive time value whose normalised price is subnormal or 0: solved on its log,
        // so the answer is the small positive vol it implies, not 0. (A subnormal quote
        // carries few digits; the answer is exact for the quote as given.)
        constexpr double kScale = 18014398509481984.0;  // 2^54 lifts a subnormal to a normal double
        constexpr double kLogScale = 37.429947750237047;  // ln 2^54
        const double log_otm = otm < kTiny ? quelm::log(otm * kScale) - kLogScale : quelm::log(otm);
        const double ln_beta = log_otm - 0.5 * quelm::log(forward) - 0.5 * quelm::log(strike);
        return {beta, -std::fabs(x), implied_from_log_price(ln_beta, -std::fabs(x)), false};
    }
    return normalised_otm_quote(beta, -std::fabs(x), 1.0);
}

double implied_black_volatility(double price, double forward, double strike, double theta) {
    const OtmQuote q = black_otm_quote(price, forward, strike, theta);
    return q.solve ? implied_otm_call(q.beta, q.x) : q.answer;
}

}  // namespace quelm

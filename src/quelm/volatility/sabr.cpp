#include "quelm/volatility/sabr.hpp"

#include <cmath>
#include <cstddef>
#include <span>

#include "quelm/core/math/elementary.hpp"
#include "quelm/pricing/option.hpp"
#include "quelm/core/text.hpp"

namespace quelm::volatility {

namespace {

// z / x(z) with x(z) = ln((sqrt(1 - 2 rho z + z^2) + z - rho) / (1 - rho)). The argument of
// the logarithm is 1 + y with y = (z + z (z - 2 rho) / (sqrt(B) + 1)) / (1 - rho), so
// x = log1p(y) keeps full precision as z -> 0; below |z| = 1e-6 the series
// 1 - rho z / 2 + (2 - 3 rho^2) z^2 / 12 is exact to rounding.
double z_over_x(double z, double rho) {
    if (std::fabs(z) < 1e-6) return 1.0 - rho * z / 2.0 + (2.0 - 3.0 * rho * rho) * z * z / 12.0;
    const double root = std::sqrt(1.0 - 2.0 * rho * z + z * z);
    const double y = (z + z * (z - 2.0 * rho) / (root + 1.0)) / (1.0 - rho);
    return z / quelm::log1p(y);
}

// z / x(z) and its derivatives in z and rho. x_z = 1 / root, and x_rho = z N / (root u (1 - rho))
// with u = root + z - rho and N = (2 rho - z)(1 - z) / (1 + root) + z - rho, free of the
// cancellation of its first form; below |z| = 1e-4 the derivatives come from the series
// (their error there, about z^2, is below the cancellation of the closed forms).
struct ZOverX {
    double value, dz, drho;
};
inline ZOverX z_over_x_gradient(double z, double rho, double one_minus_rho) {
    if (std::fabs(z) < 1e-4)
        return {z_over_x(z, rho), -rho / 2.0 + (2.0 - 3.0 * rho * rho) * z / 6.0, -z / 2.0 - rho * z * z / 2.0};
    // z_over_x's operations (so its bits), the root kept for the derivatives.
    const double root = std::sqrt(1.0 - 2.0 * rho * z + z * z);
    const double y = (z + z * (z - 2.0 * rho) / (root + 1.0)) / (1.0 - rho);
    const double x = quelm::log1p(y);
    const double value = z / x;
    const double u = root + z - rho;
    const double numer = (2.0 * rho - z) * (1.0 - z) / (1.0 + root) + z - rho;
    const double inv_x = 1.0 / x, inv = 1.0 / (root * u * one_minus_rho);
    const double x_rho = z * numer * inv;
    return {value, (1.0 - value * u * one_minus_rho * inv) * inv_x, -value * x_rho * inv_x};
}

}  // namespace

void sabr_normal0_smile_gradient(double forward, std::span<const double> strikes, double t, double alpha, double rho,
                                 double nu, std::span<double> vols, std::span<double> jacobian) {
    // The same operations as normal_factors at beta = 0, so the same bits; what does not
    // depend on the strike once for the smile.
    const double rho_term = (2.0 - 3.0 * rho * rho) * (nu * nu / 24.0);
    const double correction = 1.0 + t * rho_term;
    const double nu_over_alpha = nu / alpha;
    const double one_minus_rho = 1.0 - rho;
    const double rho_slope = t * rho * nu * nu / 4.0;                 // -d correction / d rho
    const double nu_slope = t * (2.0 - 3.0 * rho * rho) * nu / 12.0;  // d correction / d nu
    for (std::size_t i = 0; i < strikes.size(); ++i) {
        const double d = forward - strikes[i];
        const double z = nu_over_alpha * d;
        const ZOverX zx = z_over_x_gradient(z, rho, one_minus_rho);
        const double leading = alpha * zx.value;
        double* g = jacobian.data() + 3 * i;
        g[0] = (zx.value - z * zx.dz) * correction;
        g[1] = alpha * (zx.drho * correction - zx.value * rho_slope);
        g[2] = zx.dz * d * correction + leading * nu_slope;
        vols[i] = leading * correction;
    }
}

Status validate_sabr(double forward, double strike, double t, const SabrParams& p) {
    if (forward <= 0.0) return invalid("forward must be > 0");
    if (strike <= 0.0) return invalid("strike must be > 0");
    if (t < 0.0) return invalid("time to expiry must be >= 0");
    if (p.alpha <= 0.0) return invalid("alpha must be > 0");
    if (p.beta < 0.0 || p.beta > 1.0) return invalid("beta must be in [0, 1]");
    if (p.rho <= -1.0 || p.rho >= 1.0) return invalid("rho must be in (-1, 1)");
    if (p.nu < 0.0) return invalid("nu must be >= 0");
    return {};
}

namespace {

// The vol as Hagan's two factors: the leading term (positive) and the correction
// 1 + t (...), which turns negative when t is long for the parameters.
struct SabrFactors {
    double leading, correction;
};

SabrFactors sabr_factors(double forward, double strike, double t, const SabrParams& p) {
    const double one_minus_beta = 1.0 - p.beta;
    const double log_fk = quelm::log(forward / strike);
    // (F K)^((1 - beta) / 2), and its square.
    const double sqrt_a = quelm::pow(forward * strike, one_minus_beta / 2.0);
    const double a = sqrt_a * sqrt_a;
    const double c = one_minus_beta * one_minus_beta * log_fk * log_fk;
    const double den = sqrt_a * (1.0 + c / 24.0 + c * c / 1920.0);
    const double z = p.nu / p.alpha * sqrt_a * log_fk;
    const double correction =
        1.0 + t * (one_minus_beta * one_minus_beta * p.alpha * p.alpha / (24.0 * a) +
                   0.25 * p.rho * p.beta * p.nu * p.alpha / sqrt_a + (2.0 - 3.0 * p.rho * p.rho) * (p.nu * p.nu / 24.0));
    return {p.alpha / den * z_over_x(z, p.rho), correction};
}

}  // namespace

double sabr_vol_unchecked(double forward, double strike, double t, const SabrParams& p) {
    const SabrFactors f = sabr_factors(forward, strike, t, p);
    return f.leading * f.correction;
}

Result<double> sabr_vol(double forward, double strike, double t, const SabrParams& p) {
    QUELM_CHECK(validate_sabr(forward, strike, t, p));
    if (any_nan(forward, strike, t, p.alpha, p.beta, p.rho, p.nu)) return kNaN;
    const SabrFactors f = sabr_factors(forward, strike, t, p);
    const double vol = f.leading * f.correction;
    // Past its range the expansion's answer is not a volatility: say so rather than return it.
    if (!(f.correction > 0.0))
        return numerical("Hagan's expansion gives a negative volatility here: its time correction is " +
                         format_number(f.correction) + " at t = " + format_number(t));
    if (!(vol > 0.0))
        return numerical("Hagan's expansion gives no positive volatility at these inputs");
    return vol;
}

namespace {

// expm1(x) / x, 1 at 0, without cancellation near it.
double expm1_ratio(double x) { return x == 0.0 ? 1.0 : quelm::expm1(x) / x; }

Status validate_normal(double forward, double strike, double t, const SabrParams& p) {
    if (p.beta != 0.0) {
        if (forward <= 0.0) return invalid("forward must be > 0 (or beta = 0, the normal model)");
        if (strike <= 0.0) return invalid("strike must be > 0 (or beta = 0, the normal model)");
    }
    if (t < 0.0) return invalid("time to expiry must be >= 0");
    if (p.alpha <= 0.0) return invalid("alpha must be > 0");
    if (p.beta < 0.0 || p.beta > 1.0) return invalid("beta must be in [0, 1]");
    if (p.rho <= -1.0 || p.rho >= 1.0) return invalid("rho must be in (-1, 1)");
    if (p.nu < 0.0) return invalid("nu must be >= 0");
    return {};
}

SabrFactors normal_factors(double forward, double strike, double t, const SabrParams& p) {
    const double rho_term = (2.0 - 3.0 * p.rho * p.rho) * (p.nu * p.nu / 24.0);
    if (p.beta == 0.0) {
        // The normal model: (F - K) / (F - K) = 1, no powers of the rates.
        const double z = p.nu / p.alpha * (forward - strike);
        return {p.alpha * z_over_x(z, p.rho), 1.0 + t * rho_term};
    }
    const double b = p.beta, one_minus_beta = 1.0 - b;
    const double log_fk = quelm::log(forward / strike);
    // (1 - beta) (F - K) / (F^(1-beta) - K^(1-beta)) = K^beta (e^L - 1) / L / ((e^(aL) - 1) / (aL)),
    // a = 1 - beta, L = ln(F / K): exact as F -> K and at beta = 1.
    const double ratio = quelm::pow(strike, b) * expm1_ratio(log_fk) / expm1_ratio(one_minus_beta * log_fk);
    const double fk = forward * strike;
    const double fav_beta = quelm::pow(fk, b / 2.0);            // f_av^beta, f_av = sqrt(F K)
    const double fav_one_minus = quelm::pow(fk, one_minus_beta / 2.0);  // f_av^(1 - beta)
    const double z = p.nu / p.alpha * (forward - strike) / fav_beta;
    const double correction =
        1.0 + t * (-b * (2.0 - b) * p.alpha * p.alpha / (24.0 * fav_one_minus * fav_one_minus) +
                   0.25 * p.rho * p.alpha * p.nu * b / fav_one_minus + rho_term);
    return {p.alpha * ratio * z_over_x(z, p.rho), correction};
}

}  // namespace

double sabr_normal_vol_unchecked(double forward, double strike, double t, const SabrParams& p) {
    const SabrFactors f = normal_factors(forward, strike, t, p);
    return f.leading * f.correction;
}

Result<double> sabr_normal_vol(double forward, double strike, double t, const SabrParams& p) {
    QUELM_CHECK(validate_normal(forward, strike, t, p));
    if (any_nan(forward, strike, t, p.alpha, p.beta, p.rho, p.nu)) return kNaN;
    const SabrFactors f = normal_factors(forward, strike, t, p);
    if (!(f.correction > 0.0))
        return numerical("Hagan's expansion gives a negative volatility here: its time correction is " +
                         format_number(f.correction) + " at t = " + format_number(t));
    const double vol = f.leading * f.correction;
    if (!(vol > 0.0)) return numerical("Hagan's expansion gives no positive volatility at these inputs");
    return vol;
}

Result<double> sabr_vol_of(SabrModel model, double forward, double strike, double t, const SabrParams& p,
                           double shift) {
    if (!std::isfinite(shift)) return invalid("shift must be finite");
    if (model == SabrModel::Normal) return sabr_normal_vol(forward + shift, strike + shift, t, p);
    return sabr_vol(forward + shift, strike + shift, t, p);
}

}  // namespace quelm::volatility

// SABR: Hagan et al.'s (2002) lognormal and normal implied-volatility approximations, and
// both shifted (the model on forward + shift, so that negative rates have a smile). Forward
// and strike in price units, t in years, alpha in forward^(1 - beta) units per sqrt(year).
#pragma once

#include <span>

#include "quelm/core/choice.hpp"
#include "quelm/core/error.hpp"

namespace quelm::volatility {

struct SabrParams {
    double alpha;  // initial volatility level
    double beta;   // CEV exponent, in [0, 1]
    double rho;    // correlation of the forward and volatility shocks
    double nu;     // volatility of volatility
};

// forward > 0, strike > 0, t >= 0, alpha > 0, beta in [0, 1], rho in (-1, 1), nu >= 0.
[[nodiscard]] Status validate_sabr(double forward, double strike, double t, const SabrParams& p);

// The lognormal (Black) volatility at strike; NaN in, NaN out. At the money z / x(z) -> 1
// is taken from a form that neither divides 0 by 0 nor cancels near z = 0. Where the
// expansion's time correction is not positive (long t, large nu), a numerical error: the
// expansion gives no volatility there.
[[nodiscard]] Result<double> sabr_vol(double forward, double strike, double t, const SabrParams& p);

// The formula on inputs already checked, its value taken as it is (the calibration's
// residuals; may be negative where sabr_vol reports an error).
[[nodiscard]] double sabr_vol_unchecked(double forward, double strike, double t, const SabrParams& p);

// Which implied vol the expansion gives: Black's (lognormal) or Bachelier's (normal, in
// price units per sqrt(year)).
enum class SabrModel : unsigned char { Lognormal, Normal };
inline constexpr Choices<SabrModel, 4> kSabrModels{
    "model",
    Listing::Quoted,
    {{{"lognormal", SabrModel::Lognormal},
      {"normal", SabrModel::Normal},
      {"black", SabrModel::Lognormal},
      {"bachelier", SabrModel::Normal}}},
    true,
    true,
};

// Hagan et al. (2002), "Managing smile risk", eq. (B.69a): the normal vol at strike,
// alpha (1 - beta) (F - K) / (F^(1-beta) - K^(1-beta)) zeta / x(zeta) (1 + t [...]) with
// zeta = nu / alpha (F - K) / (F K)^(beta/2). With beta = 0 it is the normal SABR model and
// takes forwards and strikes of any sign; otherwise both must be > 0. NaN in, NaN out; a
// time correction that is not positive is a numerical error, as for sabr_vol.
[[nodiscard]] Result<double> sabr_normal_vol(double forward, double strike, double t, const SabrParams& p);
[[nodiscard]] double sabr_normal_vol_unchecked(double forward, double strike, double t, const SabrParams& p);

// The normal model's (beta = 0) vols at strikes, the same bits as sabr_normal_vol_unchecked,
// and their derivatives in alpha, rho and nu (jacobian[3 i .. 3 i + 2] for strike i), for the
// calibration's Jacobian.
void sabr_normal0_smile_gradient(double forward, std::span<const double> strikes, double t, double alpha, double rho,
                                 double nu, std::span<double> vols, std::span<double> jacobian);

// Either expansion on forward + shift and strike + shift (shift = 0: the plain model).
[[nodiscard]] Result<double> sabr_vol_of(SabrModel model, double forward, double strike, double t,
                                         const SabrParams& p, double shift);

}  // namespace quelm::volatility

// Gatheral's SVI smile in its raw form, w(k) = a + b (rho (k - m) + sqrt((k - m)^2 + sigma^2)),
// w the total implied variance (vol^2 t) at log-moneyness k = ln(K / F). The fit of one
// expiry's slice, and the butterfly-arbitrage check g(k) >= 0 with where it fails.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "quelm/core/cancel.hpp"
#include "quelm/core/error.hpp"

namespace quelm::volatility {

struct SviParams {
    double a, b, rho, m, sigma;
};

// b >= 0, -1 < rho < 1, sigma > 0, all finite.
[[nodiscard]] Status validate_svi(const SviParams& p);

// Total variance and its first two derivatives in k.
struct SviValue {
    double w, dw, d2w;
};
[[nodiscard]] SviValue svi_value(const SviParams& p, double k);

// The implied vol sqrt(w(ln(K / F)) / t): forward > 0, strike > 0, t > 0, then the
// parameters; NaN where w <= 0, and for NaN inputs.
[[nodiscard]] Result<double> svi_vol(double forward, double strike, double t, const SviParams& p);

// Gatheral's density factor g(k) = (1 - k w' / (2 w))^2 - w'^2 / 4 (1 / w + 1 / 4) + w'' / 2
// (-inf where w <= 0): no butterfly arbitrage at k exactly when g(k) >= 0.
[[nodiscard]] double svi_density_factor(const SviParams& p, double k);

// The butterfly check on a grid of 401 points over [k_lo, k_hi]: the least g, and the
// intervals (pairs of grid points) over which g < 0.
struct ButterflyCheck {
    bool arbitrage_free;
    double min_g;
    std::vector<double> violations;  // flattened [k_start, k_end] pairs
};
[[nodiscard]] ButterflyCheck check_butterfly(const SviParams& p, double k_lo, double k_hi);

struct SviFit {
    SviParams params;
    double rmse;       // weighted root-mean-square vol error
    double max_error;  // largest absolute vol error
    std::size_t iterations;
    bool converged;
    std::vector<double> residuals;  // model minus quoted vol, per strike
    ButterflyCheck butterfly;       // over the quotes' range widened by half its width each side
};

// Fits one slice: log-moneyness ks, vols (annual), time t > 0, weights empty or one per
// quote. For each (m, sigma) the best (a, b rho, b) is a linear least-squares problem
// solved exactly on Zeliade's domain (0 <= b sigma, |b rho| <= b, b (1 + |rho|) <= 4 in
// total variance: Lee's bound); (m, sigma) are then fitted by bounded Levenberg-Marquardt
// from the best point of a coarse grid.
[[nodiscard]] Result<SviFit> svi_fit(std::span<const double> ks, std::span<const double> vols, double t,
                                     std::span<const double> weights, Cancel& cancel);

// The same from strikes and a forward (price units): k = ln(K / F).
[[nodiscard]] Result<SviFit> svi_calibrate(double forward, std::span<const double> strikes,
                                           std::span<const double> vols, double t, std::span<const double> weights,
                                           Cancel& cancel);

}  // namespace quelm::volatility

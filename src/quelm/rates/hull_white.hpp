// The Hull-White one-factor short-rate model dr = (theta(t) - a r) dt + sigma dW, theta
// fitted exactly to a curve: zero-coupon bonds at a future time given the short rate, their
// European options in closed form, caps and floors as strips of zero-bond options and
// European swaptions by Jamshidian's decomposition (on the model's one curve, which both
// projects and discounts), and the futures-to-forward convexity bias. Times are the curve's
// (its day count from its reference date); a, sigma per year.
#pragma once

#include "quelm/core/error.hpp"
#include "quelm/curves/curve.hpp"
#include "quelm/rates/cap_floor.hpp"
#include "quelm/rates/swaption.hpp"

namespace quelm::rates {

struct HullWhite {
    double a = 0.1, sigma = 0.01;
    curves::YieldCurve curve;
    friend bool operator==(const HullWhite&, const HullWhite&) = default;
};

// a > 0 and sigma > 0, both finite; a dated curve for trades.
[[nodiscard]] Status check(const HullWhite& m);

// B(t, T) = (1 - e^(-a (T - t))) / a.
[[nodiscard]] double hw_b(double a, double t, double T);

// P(t, T) given r(t) = short_rate: A(t, T) e^(-B(t, T) r), the curve's P(0, T) / P(0, t) and
// instantaneous forward f(0, t) in A. 0 <= t <= T.
[[nodiscard]] Result<double> hw_zero_bond(const HullWhite& m, double t, double T, double short_rate);

// (1 - e^(-x)) / x without cancellation near 0.
[[nodiscard]] double one_minus_exp_over(double x);

// Today's value of the option expiring at `expiry` on the zero bond maturing at `maturity`
// struck at `strike` (per unit of the bond's face): Black on the forward bond price with
// total deviation sigma_P = sigma B(expiry, maturity) sqrt((1 - e^(-2 a expiry)) / (2 a)).
[[nodiscard]] Result<double> hw_zero_bond_option(const HullWhite& m, double expiry, double maturity, double strike,
                                                 double theta);

// A cap (floor) as puts (calls) on the zero bond over each live period, struck at
// 1 / (1 + strike × accrual), expiring at the period's start.
[[nodiscard]] Result<double> hw_cap_price(const HullWhite& m, const CapFloor& c);
// A payer (receiver) as puts (calls) on the fixed leg's zero bonds struck at their value at
// the short rate r* where the fixed leg plus the face is worth the bond to the start; the
// start may follow the expiry (a settlement lag). Physical settlement only.
[[nodiscard]] Result<double> hw_swaption_price(const HullWhite& m, const Swaption& s);

// The futures rate minus the forward rate over [start, end] (continuously compounded):
// B(start, end) / (end - start) × (B(start, end) (1 - e^(-2 a start)) + 2 a B(0, start)^2) ×
// sigma^2 / (4 a) (Hull, Options, Futures and Other Derivatives, on Hull-White's convexity
// adjustment); sigma^2 start end / 2 as a -> 0 (Ho-Lee).
[[nodiscard]] Result<double> hw_futures_convexity(const HullWhite& m, double start, double end);

}  // namespace quelm::rates

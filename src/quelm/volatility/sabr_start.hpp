// A closed-form first guess of SABR's alpha, rho and nu for the normal model (beta = 0),
// from the level, skew and curvature of the quoted smile at the money: Hagan's expansion
// sigma(K) ~ c (alpha + rho nu d / 2 + (2 - 3 rho^2) nu^2 d^2 / (12 alpha)), d = K - F,
// c = 1 + t (2 - 3 rho^2) nu^2 / 24, inverted. Near-exact quotes need few iterations from it.
#pragma once

#include <optional>
#include <span>

#include "quelm/volatility/sabr.hpp"

namespace quelm::volatility {

// From the (up to) five quotes nearest the forward, through a polynomial of degree up to 4;
// none when they are not distinct strikes or give no positive level.
[[nodiscard]] std::optional<SabrParams> sabr_normal_start(double forward, std::span<const double> strikes,
                                                          std::span<const double> vols, double t);

}  // namespace quelm::volatility

// The total standard deviation s = sigma sqrt(T) implied by a normalised Black price
// (P. Jaeckel, "Let's be rational", 2015/2016): a rational-cubic first guess in four
// regions, then at most two Householder steps of order three on an objective
// chosen per region. Dimensionless: x = ln(F/K), beta = undiscounted price / sqrt(F K).
#pragma once

namespace quelm {

// s >= 0 with normalised_black(x, s, theta) = beta. beta at or below the intrinsic value
// gives 0; beta at or above the limit e^(theta x / 2) gives +inf; NaN gives NaN.
[[nodiscard]] double implied_normalised_volatility(double beta, double x, double theta);

// The same from an undiscounted price of a forward F > 0 struck at K > 0.
[[nodiscard]] double implied_black_volatility(double price, double forward, double strike, double theta);

}  // namespace quelm

// The total standard deviation s = sigma sqrt(T) implied by a normalised Black price
// (P. Jaeckel, "Let's be rational", 2015/2016): a rational-cubic first guess in four
// regions, then at most two Householder steps of order three on an objective
// chosen per region. Dimensionless: x = ln(F/K), beta = undiscounted price / sqrt(F K).
#pragma once

#include <cstddef>

namespace quelm {

// s >= 0 with normalised_black(x, s, theta) = beta. beta at or below the intrinsic value
// gives 0; beta at or above the limit e^(theta x / 2) gives +inf; NaN gives NaN.
[[nodiscard]] double implied_normalised_volatility(double beta, double x, double theta);

// The same from an undiscounted price of a forward F > 0 struck at K > 0. A positive time
// value whose normalised price is below the smallest normal double is solved on its log:
// a small positive answer, not 0.
[[nodiscard]] double implied_black_volatility(double price, double forward, double strike, double theta);

// ---- The same solve in steps, for the lane form ------------------------------------------

// A quote reduced to the out-of-the-money call: solve = true with 0 < beta < e^(x/2),
// x <= 0, or solve = false with the answer the gates above give (0, +inf or NaN).
struct OtmQuote {
    double beta, x, answer;
    bool solve;
};
[[nodiscard]] OtmQuote normalised_otm_quote(double beta, double x, double theta);
[[nodiscard]] OtmQuote black_otm_quote(double price, double forward, double strike, double theta);

// s for a quote with solve = true: implied_normalised_volatility(beta, x, 1) is this.
[[nodiscard]] double implied_otm_call_volatility(double beta, double x);

// The same for n quotes at once, at the SIMD width core/simd.hpp chose, each with the bits
// of implied_otm_call_volatility (black_implied_lanes.cpp).
void implied_otm_call_volatilities(const double* beta, const double* x, std::size_t n, double* out);

// The first guesses of the outer regions (the price below b_l = b(x, s_l), or above
// b_u = b(x, s_u)), before the Householder steps; b_max = e^(x/2).
[[nodiscard]] double implied_lower_guess(double beta, double x, double s_l, double b_l);
[[nodiscard]] double implied_upper_guess(double beta, double x, double s_u, double b_u, double b_max);

}  // namespace quelm

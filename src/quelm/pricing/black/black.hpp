// The vanilla kernel in forward form: the undiscounted Black price b(F, K, s, theta) with
// s = sigma sqrt(T) the total standard deviation and theta = +1 (call) or -1 (put), and
// its normalised form b / sqrt(F K) in x = ln(F/K), s (P. Jaeckel's notation), with the
// branches that keep full relative accuracy far into the tails.
#pragma once

#include "quelm/pricing/option.hpp"

namespace quelm {

// 1/j! for j = 1, 3, ..., 17: the odd Taylor terms of mills_difference_small_t (the scalar
// call and its lanes).
inline constexpr double kInverseFactorial[] = {1.0,
                                               1.0 / 6.0,
                                               1.0 / 120.0,
                                               1.0 / 5040.0,
                                               1.0 / 362880.0,
                                               1.0 / 39916800.0,
                                               1.0 / 6227020800.0,
                                               1.0 / 1307674368000.0,
                                               1.0 / 355687428096000.0};

// e^(x/2) - e^(-x/2) for x >= 0, without cancellation for small x.
[[nodiscard]] double normalised_intrinsic_magnitude(double x);

// The normalised price of the out-of-the-money call, x <= 0, s >= 0:
// e^(x/2) Phi(x/s + s/2) - e^(-x/2) Phi(x/s - s/2). Four regions: an asymptotic
// expansion in the far lower tail, a Taylor expansion in s/2 for small s, and erfc /
// erfcx (Cody) elsewhere, chosen per term so nothing overflows or cancels badly.
[[nodiscard]] double normalised_black_call_otm(double x, double s);

// The same with its vega (below), which shares the exponential.
struct BlackAndVega {
    double b, vega;
};
[[nodiscard]] BlackAndVega normalised_black_call_otm_and_vega(double x, double s);

// ln b of the out-of-the-money call (x < 0, s > 0), finite where b itself underflows, and
// b / vega, the reciprocal of d(ln b)/ds.
struct LogBlack {
    double log_b, mills;
};
[[nodiscard]] LogBlack log_normalised_black_call_otm(double x, double s);

// The normalised price for either type and any x (the intrinsic part added exactly).
[[nodiscard]] double normalised_black(double x, double s, double theta);

// d/ds of the normalised price: e^(-(x^2/s^2 + s^2/4)/2) / sqrt(2 pi), the same for both types.
[[nodiscard]] double normalised_vega(double x, double s);

// The undiscounted Black price of a forward F >= 0 struck at K > 0 with total standard
// deviation s >= 0: intrinsic value when s = 0 or F = 0, the exact value otherwise.
// Non-finite or NaN inputs give NaN (or the limit the formula has).
[[nodiscard]] double black(double forward, double strike, double s, double theta);

// The undiscounted Bachelier (normal) price of a forward struck at K (both any sign) with
// total normal standard deviation s >= 0: (F - K) theta Phi(d) + s phi(d), d = theta (F - K) / s.
[[nodiscard]] double bachelier_undiscounted(double forward, double strike, double s, double theta);

// The out-of-the-money Bachelier price per unit of s, as a function of d = -|F - K| / s <= 0:
// phi(d) + d Phi(d) = phi(d) (1 + d Y(d)), accurate far into the tail.
[[nodiscard]] double normalised_bachelier_otm(double d);

}  // namespace quelm

#include "quelm/pricing/black/bachelier.hpp"

#include <cmath>
#include <limits>

#include "quelm/pricing/black/black.hpp"
#include "quelm/core/math/elementary.hpp"
#include "quelm/pricing/black/implied_vol.hpp"

namespace quelm::pricing {

namespace {

// phi~(d) = Phi(d) + phi(d)/d for d < 0: minus the out-of-the-money price per unit of |F - K|.
double phi_tilde(double d) { return normalised_bachelier_otm(d) / d; }

// A first guess of d < 0 with phi~(d) = target < 0, to about 3e-4 relative, from two
// rational approximations in the variables of Jaeckel's "Implied normal volatility".
double first_guess(double target) {
    if (target < -0.001882039271) {
        const double g = 1.0 / (target - 0.5);
        const double g2 = g * g;
        const double xi = (0.032114372355 - g2 * (0.016969777977 - g2 * (2.6207332461e-3 - 9.6066952861e-5 * g2))) /
                          (1.0 - g2 * (0.6635646938 - g2 * (0.14528712196 - 0.010472855461 * g2)));
        return g * (0.3989422804014327 + xi * g2);
    }
    const double h = std::sqrt(-quelm::log(-target));
    return (9.4883409779 - h * (9.6320903635 - h * (0.58556997323 + 2.1464093351 * h))) /
           (1.0 - h * (0.65174820867 + h * (1.5120247828 + 6.6437847132e-5 * h)));
}

// d < 0 with phi~(d) = target: the guess, then Householder steps of order three
// (phi~' = -phi/d^2, phi~''/phi~' = -(d^2 + 2)/d, phi~'''/phi~' = (d^4 + 3 d^2 + 6)/d^2).
double solve_d(double target) {
    double d = first_guess(target);
    for (int i = 0; i < 4; ++i) {
        const double d2 = d * d;
        const double density = 0.3989422804014327 * quelm::exp(-d2 / 2.0);
        if (!(density > 0.0)) break;
        const double newton = (phi_tilde(d) - target) * d2 / density;
        const double halley = -(d2 + 2.0) / d;
        const double hh3 = (d2 * d2 + 3.0 * d2 + 6.0) / d2;
        double step = newton * (1.0 + 0.5 * halley * newton) / (1.0 + newton * (halley + hh3 * newton / 6.0));
        if (!(d + step < 0.0)) step = d / 2.0 - d;  // stay on the side where d < 0
        d += step;
        if (std::fabs(step) <= 2.220446049250313e-16 * std::fabs(d)) break;
    }
    return d;
}

}  // namespace

Result<double> bachelier(double forward, double strike, double rate, double vol, double t, OptionType type) {
    if (vol < 0.0) return invalid("volatility must be >= 0");
    if (t < 0.0) return invalid("time to expiry must be >= 0");
    if (any_nan(forward, strike, rate, vol, t)) return kNaN;
    if (t == 0.0) return payoff(type, forward, strike);
    return discount_factor(rate, t) * bachelier_undiscounted(forward, strike, vol * std::sqrt(t), theta_of(type));
}

Result<double> bachelier_implied_volatility(double price, double forward, double strike, double rate, double t,
                                            OptionType type) {
    if (t <= 0.0) return invalid("time to expiry must be > 0 to imply volatility");
    const double dr = discount_factor(rate, t);
    QUELM_CHECK(check_price_bounds(price, dr * payoff(type, forward, strike),
                                   std::numeric_limits<double>::infinity()));
    if (any_nan(price, forward, strike, rate, t)) return kNaN;
    const double m = std::fabs(forward - strike);
    const double v = price / dr - payoff(type, forward, strike);  // the out-of-the-money value
    if (!(v > 0.0)) return 0.0;
    if (m == 0.0) return v * 2.5066282746310002 / std::sqrt(t);
    const double d = solve_d(-v / m);
    return m / (-d) / std::sqrt(t);
}

}  // namespace quelm::pricing

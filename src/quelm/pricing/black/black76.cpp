#include "quelm/pricing/black/black76.hpp"

#include <cmath>

#include "quelm/pricing/black/black.hpp"
#include "quelm/pricing/black/black_implied.hpp"
#include "quelm/pricing/black/implied_vol.hpp"

namespace quelm::pricing {

Result<double> black76(double forward, double strike, double rate, double vol, double t, OptionType type) {
    if (strike <= 0.0) return invalid("strike must be > 0");
    if (forward < 0.0) return invalid("forward must be >= 0");
    if (vol < 0.0) return invalid("volatility must be >= 0");
    if (t < 0.0) return invalid("time to expiry must be >= 0");
    if (any_nan(forward, strike, rate, vol, t)) return kNaN;
    if (t == 0.0) return payoff(type, forward, strike);
    return discount_factor(rate, t) * black(forward, strike, vol * std::sqrt(t), theta_of(type));
}

Result<double> black76_implied_volatility(double price, double forward, double strike, double rate, double t,
                                          OptionType type) {
    if (strike <= 0.0) return invalid("strike must be > 0");
    if (forward <= 0.0) return invalid("forward must be > 0");
    if (t <= 0.0) return invalid("time to expiry must be > 0 to imply volatility");
    const double dr = discount_factor(rate, t);
    const double lower = dr * payoff(type, forward, strike);
    const double upper = dr * (type == OptionType::Call ? forward : strike);
    QUELM_CHECK(check_price_bounds(price, lower, upper));
    if (any_nan(price, forward, strike, rate, t)) return kNaN;
    return implied_black_volatility(price / dr, forward, strike, theta_of(type)) / std::sqrt(t);
}

}  // namespace quelm::pricing

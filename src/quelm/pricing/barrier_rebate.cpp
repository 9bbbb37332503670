#include "quelm/pricing/barrier_rebate.hpp"

#include <cmath>

#include "quelm/core/math/distributions.hpp"
#include "quelm/core/math/elementary.hpp"

namespace quelm::pricing {

namespace {

// mu = (b - sigma^2 / 2) / sigma^2 and the total deviation.
struct Drift {
    double mu, vt;
};
Drift drift_of(const MarketInputs& m, double t) {
    const double v2 = m.vol * m.vol;
    return {((m.rate - m.dividend_yield) - v2 / 2.0) / v2, m.vol * std::sqrt(t)};
}

}  // namespace

double no_touch_probability(const MarketInputs& m, double t, bool down, double barrier) {
    const auto [mu, vt] = drift_of(m, t);
    const double eta = down ? 1.0 : -1.0;
    const double l = quelm::log(m.spot / barrier);
    const double x = l / vt + mu * vt;
    const double y = -l / vt + mu * vt;
    return normal_cdf(eta * x) - power_times_cdf(barrier / m.spot, 2.0 * mu, eta * y);
}

double rebate_at_expiry(const MarketInputs& m, double t, bool down, double barrier) {
    return quelm::exp(-m.rate * t) * no_touch_probability(m, t, down, barrier);
}

Result<double> rebate_at_touch(const MarketInputs& m, double t, bool down, double barrier) {
    const auto [mu, vt] = drift_of(m, t);
    const double lambda2 = mu * mu + 2.0 * m.rate / (m.vol * m.vol);
    if (!(lambda2 >= 0.0)) return numerical("a rebate at the touch needs mu^2 + 2 r / sigma^2 >= 0");
    const double lambda = std::sqrt(lambda2);
    const double eta = down ? 1.0 : -1.0;
    const double z = quelm::log(barrier / m.spot) / vt + lambda * vt;
    const double hs = barrier / m.spot;
    return power_times_cdf(hs, mu + lambda, eta * z) + power_times_cdf(hs, mu - lambda, eta * z - 2.0 * eta * lambda * vt);
}

}  // namespace quelm::pricing

#include "quelm/fx/delta_terms.hpp"

#include <cmath>
#include <limits>

#include "quelm/core/math/distributions.hpp"
#include "quelm/core/math/elementary.hpp"

namespace quelm::fx {

DTerms d_terms(double forward, double strike, double s) {
    const double x = quelm::log(forward / strike);
    if (s == 0.0) {
        constexpr double inf = std::numeric_limits<double>::infinity();
        const double d = x > 0.0 ? inf : (x < 0.0 ? -inf : 0.0);
        return {d, d};
    }
    const double d1 = x / s + s / 2.0;
    return {d1, d1 - s};
}

FourDeltas four_deltas(const FxMarket& m, double strike, OptionType type) {
    const double theta = theta_of(type);
    const double f = forward_of(m);
    const double s = m.vol * std::sqrt(m.t);
    const DTerms d = d_terms(f, strike, s);
    const double df = quelm::exp(-m.foreign_rate * m.t);
    const double forward = theta * normal_cdf(theta * d.d1);
    const double forward_pa = theta * (strike / f) * normal_cdf(theta * d.d2);
    return {df * forward, forward, df * forward_pa, forward_pa};
}

}  // namespace quelm::fx

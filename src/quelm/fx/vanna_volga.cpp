#include "quelm/fx/vanna_volga.hpp"

#include <cmath>

#include "quelm/core/math/elementary.hpp"

namespace quelm::fx {

double vanna_volga_vol(double forward, double t, const Pillars3& p, double strike) {
    const double l1 = quelm::log(p.k[0]), l2 = quelm::log(p.k[1]), l3 = quelm::log(p.k[2]);
    const double l = quelm::log(strike);
    const double y1 = (l2 - l) * (l3 - l) / ((l2 - l1) * (l3 - l1));
    const double y2 = (l - l1) * (l3 - l) / ((l2 - l1) * (l3 - l2));
    const double y3 = (l - l1) * (l - l2) / ((l3 - l1) * (l3 - l2));
    const double s2 = p.vol[1];
    const double sd = s2 * std::sqrt(t);
    const double lf = quelm::log(forward);
    // d1 d2 = (ln(F / K) / sd)^2 - sd^2 / 4.
    const auto d1d2 = [&](double lk) {
        const double a = (lf - lk) / sd;
        return a * a - sd * sd / 4.0;
    };
    const double e1 = p.vol[0] - s2, e3 = p.vol[2] - s2;
    const double first = y1 * p.vol[0] + y2 * s2 + y3 * p.vol[2] - s2;
    const double second = y1 * d1d2(l1) * e1 * e1 + y3 * d1d2(l3) * e3 * e3;
    const double a = 2.0 * s2 * first + second;
    const double dd = d1d2(l);
    const double radicand = s2 * s2 + dd * a;
    if (!(radicand >= 0.0)) return s2 + first;
    // (sqrt(s2^2 + dd a) - s2) / dd without the cancellation (and finite at dd = 0).
    return s2 + a / (std::sqrt(radicand) + s2);
}

}  // namespace quelm::fx

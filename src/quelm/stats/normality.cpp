#include "quelm/stats/normality.hpp"

#include <cmath>

#include "quelm/core/math/elementary.hpp"
#include "quelm/stats/descriptive.hpp"

namespace quelm::stats {

JarqueBera jarque_bera_from(double skew, double kurt, std::size_t n) {
    const double jb = (kurt * kurt * 0.25 + skew * skew) * (static_cast<double>(n) / 6.0);
    return {jb, quelm::exp(-0.5 * jb)};
}

Result<JarqueBera> jarque_bera(std::span<const double> x) {
    QUELM_TRY(s, skewness(x));
    QUELM_TRY(k, excess_kurtosis(x));
    return jarque_bera_from(s, k, x.size());
}

}  // namespace quelm::stats

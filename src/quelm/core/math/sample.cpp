#include "quelm/core/math/sample.hpp"

#include <cmath>

namespace quelm {

MeanSe mean_and_se(std::span<const double> values) {
    const std::size_t n = values.size();
    if (n == 0) return {0.0, 0.0};
    double sum = 0.0;
    for (double v : values) sum += v;
    const double mean = sum / static_cast<double>(n);
    if (n == 1) return {mean, 0.0};
    double ss = 0.0;
    for (double v : values) {
        const double dv = v - mean;
        ss += dv * dv;
    }
    const double var = ss / static_cast<double>(n - 1);
    return {mean, std::sqrt(var / static_cast<double>(n))};
}

}  // namespace quelm

#include "quelm/portfolio/allocation.hpp"

#include <cmath>
#include <limits>

namespace quelm::portfolio {

Result<std::vector<double>> weights(std::span<const double> market_values) {
    if (market_values.empty()) return invalid("weights: empty market values");
    double total = -0.0, magnitude = -0.0;
    for (const double v : market_values) {
        total += v;
        magnitude += std::fabs(v);
    }
    std::vector<double> w(market_values.size(), 0.0);
    // Values that cancel leave a total of pure rounding (0.1 + 0.2 - 0.3 is 5.6e-17):
    // within n ulps of the gross it counts as zero, like an exact zero.
    const double n = static_cast<double>(market_values.size());
    if (std::isfinite(magnitude) && std::fabs(total) <= n * std::numeric_limits<double>::epsilon() * magnitude) {
        return w;
    }
    for (std::size_t i = 0; i < w.size(); ++i) w[i] = market_values[i] / total;
    return w;
}

}  // namespace quelm::portfolio

#include "quelm/portfolio/allocation.hpp"

namespace quelm::portfolio {

Result<std::vector<double>> weights(std::span<const double> market_values) {
    if (market_values.empty()) return invalid("weights: empty market values");
    double total = -0.0;
    for (const double v : market_values) total += v;
    std::vector<double> w(market_values.size(), 0.0);
    if (total == 0.0) return w;
    for (std::size_t i = 0; i < w.size(); ++i) w[i] = market_values[i] / total;
    return w;
}

}  // namespace quelm::portfolio

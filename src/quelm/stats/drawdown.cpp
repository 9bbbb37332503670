#include "quelm/stats/drawdown.hpp"

#include <cmath>
#include <limits>

namespace quelm::stats {

Result<Drawdown> max_drawdown(std::span<const double> prices) {
    if (prices.empty()) return invalid("max_drawdown: empty series");
    for (double p : prices) {
        if (p <= 0.0) return invalid("max_drawdown: prices must be positive");
    }
    Drawdown out;
    // A later NaN price never compares, so it neither moves the peak nor records a fall.
    // A NaN first price leaves no peak to fall from: the drawdown is unknown, not 0.
    if (std::isnan(prices[0])) {
        out.max_drawdown = std::numeric_limits<double>::quiet_NaN();
        return out;
    }
    double peak = prices[0];
    std::size_t pk = 0;
    for (std::size_t i = 0; i < prices.size(); ++i) {
        const double p = prices[i];
        if (p > peak) {
            peak = p;
            pk = i;
        }
        const double dd = (peak - p) / peak;
        if (dd > out.max_drawdown) {
            out.max_drawdown = dd;
            out.peak_index = pk;
            out.trough_index = i;
            out.duration = i - pk;
        }
    }
    return out;
}

}  // namespace quelm::stats

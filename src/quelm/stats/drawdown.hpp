// Maximum drawdown of a price series: the largest fractional fall (peak - trough) / peak
// from a running peak, with the indices where it happened. Prices must be > 0.
#pragma once

#include <cstdint>
#include <span>

#include "quelm/core/error.hpp"

namespace quelm::stats {

struct Drawdown {
    double max_drawdown = 0.0;    // in [0, 1); 0 when the prices never fall; NaN when the first price is
                                  // NaN (no peak to fall from; indices 0)
    std::uint64_t peak_index = 0;
    std::uint64_t trough_index = 0;
    std::uint64_t duration = 0;   // trough_index - peak_index, in periods
};

// The earliest of equal peaks and the first of equal drawdowns are kept.
[[nodiscard]] Result<Drawdown> max_drawdown(std::span<const double> prices);

}  // namespace quelm::stats

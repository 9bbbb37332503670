// Sample mean and standard error of the mean (divisor n - 1 for the variance),
// as used for per-pair Monte Carlo values.
#pragma once

#include <span>

#include "quelm/core/cancel.hpp"
#include "quelm/core/error.hpp"

namespace quelm {

struct MeanSe {
    double mean;
    double standard_error;
};

// (0, 0) for no values, (v, 0) for one value; sums in index order.
[[nodiscard]] MeanSe mean_and_se(std::span<const double> values);
// The same, polling between blocks of values (a billion pair values take a second);
// cancelled once the poller reports a stop.
[[nodiscard]] Result<MeanSe> mean_and_se(std::span<const double> values, CancelPoller& poller);

}  // namespace quelm

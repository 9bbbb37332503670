// Sample mean and standard error of the mean (divisor n - 1 for the variance),
// as used for per-pair Monte Carlo values.
#pragma once

#include <span>

namespace quelm {

struct MeanSe {
    double mean;
    double standard_error;
};

// (0, 0) for no values, (v, 0) for one value; sums in index order.
[[nodiscard]] MeanSe mean_and_se(std::span<const double> values);

}  // namespace quelm

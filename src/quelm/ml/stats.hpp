// Normalisation statistics of training features and targets: mean and population
// standard deviation (divisor n) in index order, the deviation floored at 1e-12.
#pragma once

#include <cmath>
#include <span>

namespace quelm::ml {

struct MeanStd {
    double mean, std;
};

[[nodiscard]] inline MeanStd mean_std(std::span<const double> v) {
    double sum = 0.0;
    for (double x : v) sum += x;
    const double mean = sum / static_cast<double>(v.size());
    double ss = 0.0;
    for (double x : v) {
        const double d = x - mean;
        ss += d * d;
    }
    const double sd = std::sqrt(ss / static_cast<double>(v.size()));
    return {mean, sd <= 1e-12 ? 1e-12 : sd};
}

}  // namespace quelm::ml

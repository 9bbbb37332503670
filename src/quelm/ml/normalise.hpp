// Normalisation statistics of training features and targets: mean and population
// standard deviation (divisor n) in index order, the deviation floored at 1e-12.
#pragma once

#include <cmath>
#include <span>
#include <vector>

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

// The statistics of v, and v normalised by them into out: (v - mean) / std.
inline MeanStd normalise(std::span<const double> v, std::vector<double>& out) {
    const MeanStd st = mean_std(v);
    out.resize(v.size());
    for (std::size_t k = 0; k < v.size(); ++k) out[k] = (v[k] - st.mean) / st.std;
    return st;
}

}  // namespace quelm::ml

#include "quelm/core/math/sample.hpp"

#include <algorithm>
#include <cmath>

namespace quelm {

namespace {

// Runs body(i) for i in [0, n) in order, polling between blocks; false once stopped.
template <class Body>
bool in_order(std::size_t n, CancelPoller& poller, Body&& body) {
    constexpr std::size_t kBlock = 65536;
    for (std::size_t b = 0; b < n; b += kBlock) {
        const std::size_t e = std::min(n, b + kBlock);
        for (std::size_t i = b; i < e; ++i) body(i);
        if (poller.tick(e - b)) return false;
    }
    return true;
}

}  // namespace

MeanSe mean_and_se(std::span<const double> values) {
    CancelPoller never(never_cancel());
    return *mean_and_se(values, never);
}

Result<MeanSe> mean_and_se(std::span<const double> values, CancelPoller& poller) {
    const std::size_t n = values.size();
    if (n == 0) return MeanSe{0.0, 0.0};
    double sum = 0.0;
    if (!in_order(n, poller, [&](std::size_t i) { sum += values[i]; })) return cancelled();
    const double mean = sum / static_cast<double>(n);
    if (n == 1) return MeanSe{mean, 0.0};
    double ss = 0.0;
    const bool done = in_order(n, poller, [&](std::size_t i) {
        const double dv = values[i] - mean;
        ss += dv * dv;
    });
    if (!done) return cancelled();
    const double var = ss / static_cast<double>(n - 1);
    return MeanSe{mean, std::sqrt(var / static_cast<double>(n))};
}

}  // namespace quelm

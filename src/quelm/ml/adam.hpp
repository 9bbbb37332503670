// The Adam optimiser and the schedule every neural engine trains on: the learning rate
// by progress through the steps, and the mini-batch plan.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "quelm/ml/backprop.hpp"
#include "quelm/ml/mlp.hpp"

namespace quelm::ml {

struct Adam {
    std::vector<std::vector<double>> mw, mb, vw, vb;
    std::int32_t t = 0;

    static Adam create(const Mlp& net);
    // One step with learning rate lr; refreshes the network's transposed weights.
    void step(Mlp& net, const Grad& grad, double lr);
};
// Piecewise-linear rate through (0, 1e-8), (0.2, 0.1), (0.6, 0.01), (0.9, 1e-6), (1, 1e-8)
// of f = min(1, step / total).
[[nodiscard]] double learning_rate(std::uint64_t step, std::uint64_t total);

// Mini-batch plan: batch = max(1, min(n, max(256, n / 16))), total = ceil(n / batch) * epochs
// (at least 1; saturates instead of overflowing).
struct BatchPlan {
    std::size_t batch;
    std::uint64_t total;
};
[[nodiscard]] BatchPlan batch_plan(std::size_t n, std::uint64_t epochs);
}  // namespace quelm::ml

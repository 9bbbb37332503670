// The mini-batch loop every neural engine trains with: an index list reshuffled at the
// start of each epoch (never reset), consecutive slices, the gradient averaged over the
// slice, one Adam step per slice on the scheduled rate. Polls cancellation every step.
#pragma once

#include <cstddef>
#include <cstdint>
#include <numeric>
#include <optional>
#include <vector>

#include "quelm/core/cancel.hpp"
#include "quelm/core/random.hpp"
#include "quelm/ml/optim.hpp"

namespace quelm::ml {

// sample(k, grad) adds sample k's gradient into grad and returns its loss.
// Returns the mean loss of the last slice, or nullopt when cancelled.
template <class Sample>
[[nodiscard]] std::optional<double> run_training(Mlp& net, std::size_t n, std::uint64_t epochs, SmallRng& order,
                                                 Sample&& sample, Cancel& cancel) {
    const BatchPlan plan = batch_plan(n, epochs);
    Adam adam = Adam::create(net);
    Grad grad = Grad::zeros_like(net);
    std::vector<std::size_t> idx(n);
    std::iota(idx.begin(), idx.end(), std::size_t{0});
    std::uint64_t step = 0;
    double last = 0.0;
    for (std::uint64_t e = 0; e < epochs; ++e) {
        shuffle(order, idx);
        for (std::size_t start = 0; start < n; start += plan.batch) {
            if (cancel.poll()) return std::nullopt;
            const std::size_t end = std::min(n, start + plan.batch);
            grad.clear();
            double loss = 0.0;
            for (std::size_t i = start; i < end; ++i) loss += sample(idx[i], grad);
            const double len = static_cast<double>(end - start);
            grad.scale(1.0 / len);
            adam.step(net, grad, learning_rate(step, plan.total));
            ++step;
            last = loss / len;
        }
    }
    return last;
}

}  // namespace quelm::ml

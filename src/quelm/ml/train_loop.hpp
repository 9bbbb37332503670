// The mini-batch loop every neural engine trains with: an index list reshuffled at the
// start of each epoch (never reset), consecutive slices, the gradient averaged over the
// slice, one Adam step per slice on the scheduled rate. Polls cancellation every step.
#pragma once

#include <cstddef>
#include <cstdint>
#include <numeric>
#include <vector>

#include "quelm/core/cancel.hpp"
#include "quelm/core/error.hpp"
#include "quelm/core/parallel.hpp"
#include "quelm/core/random.hpp"
#include "quelm/ml/adam.hpp"

namespace quelm::ml {

// Samples per parallel block of the training loops: the whole slice, so each optimiser step
// is one job on the pool, capped so the per-sample workspaces stay small.
inline constexpr std::size_t kMaxSlots = 1024;
[[nodiscard]] inline std::size_t block_width(std::size_t n) {
    return std::min(batch_plan(n, 1).batch, kMaxSlots);
}

// Per-sample workspace of the value-gradient trainers.
struct ValueSlot {
    Forward f;
    GradScratch s;
    double loss = 0.0;
};

inline void make_slots(const Mlp& net, std::size_t count, std::vector<ValueSlot>& slots) {
    slots.clear();
    slots.reserve(count);
    for (std::size_t i = 0; i < count; ++i) slots.push_back(ValueSlot{Forward(net), GradScratch(net)});
}

// accumulate() of the value-gradient trainers: the slot's additions into grad, its loss.
struct AccumulateSlot {
    const Mlp* net;
    double operator()(const ValueSlot& sl, Grad& grad) const {
        accumulate_value(*net, sl.f, sl.s, grad);
        return sl.loss;
    }
};

// The same loop with each slice worked in blocks of slots.size() samples: prepare(slot, k)
// runs the per-sample passes of a block on the worker pool (each sample in its own slot, no
// shared writes), then accumulate(slot, grad) adds the block's gradients into grad in slice
// order and returns each sample's loss. The additions, and so the results, are those of
// the sequential loop whatever the number of threads. The value is the last slice's mean loss.
template <class Slot, class Prepare, class Accumulate>
[[nodiscard]] Result<double> run_training_blocks(Mlp& net, std::size_t n, std::uint64_t epochs,
                                                        Xoshiro256pp& order, std::vector<Slot>& slots,
                                                        Prepare&& prepare, Accumulate&& accumulate,
                                                        Cancel& cancel) {
    const BatchPlan plan = batch_plan(n, epochs);
    Adam adam = Adam::create(net);
    Grad grad = Grad::zeros_like(net);
    std::vector<std::size_t> idx(n);
    std::iota(idx.begin(), idx.end(), std::size_t{0});
    std::uint64_t step = 0;
    double last = 0.0;
    const std::size_t width = slots.size();
    for (std::uint64_t e = 0; e < epochs; ++e) {
        shuffle(order, idx);
        for (std::size_t start = 0; start < n; start += plan.batch) {
            if (cancel.poll()) return cancelled();
            const std::size_t end = std::min(n, start + plan.batch);
            grad.clear();
            double loss = 0.0;
            for (std::size_t b0 = start; b0 < end; b0 += width) {
                const std::size_t m = std::min(width, end - b0);
                if (m == 1) {
                    prepare(slots[0], idx[b0]);
                } else {
                    const bool done = parallel_for(m, [&](std::size_t lo, std::size_t hi) {
                        for (std::size_t i = lo; i < hi; ++i) prepare(slots[i], idx[b0 + i]);
                    }, cancel);
                    if (!done) return cancelled();
                }
                for (std::size_t i = 0; i < m; ++i) loss += accumulate(slots[i], grad);
            }
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

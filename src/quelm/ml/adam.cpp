#include "quelm/ml/adam.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "quelm/core/portable.hpp"

namespace quelm::ml {

Adam Adam::create(const Mlp& net) {
    const Grad z = Grad::zeros_like(net);
    return Adam{z.w, z.b, z.w, z.b, 0};
}

namespace {

inline void adam_update(std::vector<double>& p, const std::vector<double>& gr, std::vector<double>& m,
                        std::vector<double>& v, double c1, double c2, double lr) {
    constexpr double one_minus_b1 = 1.0 - 0.9;
    constexpr double one_minus_b2 = 1.0 - 0.999;
    for (std::size_t i = 0; i < p.size(); ++i) {
        const double g = gr[i];
        m[i] = g * one_minus_b1 + m[i] * 0.9;
        v[i] = (g * one_minus_b2) * g + v[i] * 0.999;
        p[i] = p[i] - ((m[i] / c1) * lr) / (std::sqrt(v[i] / c2) + 1e-8);
    }
}

}  // namespace

void Adam::step(Mlp& net, const Grad& grad, double lr) {
    t = t == std::numeric_limits<std::int32_t>::max() ? t : t + 1;
    const double c1 = 1.0 - powi(0.9, t);
    const double c2 = 1.0 - powi(0.999, t);
    for (std::size_t l = 0; l < net.layers.size(); ++l) {
        Layer& layer = net.layers[l];
        adam_update(layer.w, grad.w[l], mw[l], vw[l], c1, c2, lr);
        adam_update(layer.b, grad.b[l], mb[l], vb[l], c1, c2, lr);
        layer.sync_transposed();
    }
}

double learning_rate(std::uint64_t step, std::uint64_t total) {
    static constexpr double xs[5] = {0.0, 0.2, 0.6, 0.9, 1.0};
    static constexpr double ys[5] = {1e-8, 0.1, 0.01, 1e-6, 1e-8};
    const double f = std::min(1.0, static_cast<double>(step) / static_cast<double>(total));
    std::size_t k = 1;
    while (k < 4 && xs[k] < f) ++k;
    return ys[k - 1] + (ys[k] - ys[k - 1]) * ((f - xs[k - 1]) / (xs[k] - xs[k - 1]));
}

BatchPlan batch_plan(std::size_t n, std::uint64_t epochs) {
    const std::size_t batch = std::max<std::size_t>(1, std::min(n, std::max<std::size_t>(256, n / 16)));
    const std::uint64_t per_epoch = (static_cast<std::uint64_t>(n) + batch - 1) / batch;
    std::uint64_t total = 0;
    if (mul_overflows(per_epoch, epochs, total)) total = std::numeric_limits<std::uint64_t>::max();
    return {batch, std::max<std::uint64_t>(total, 1)};
}

}  // namespace quelm::ml

#include "quelm/ml/mlp.hpp"

#include <algorithm>
#include <cmath>

#include "quelm/core/math/elementary.hpp"
#include "quelm/core/math/lanes.hpp"
#include "quelm/core/portable.hpp"
#include "quelm/core/simd.hpp"
#include "quelm/core/sizes.hpp"
#include "quelm/ml/mlp_lanes.hpp"

namespace quelm::ml {

void Layer::sync_transposed() {
    for (std::size_t r = 0; r < rows; ++r)
        for (std::size_t c = 0; c < cols; ++c) {
            wp[r * cp + c] = w[r * cols + c];
            wt[c * rp + r] = w[r * cols + c];
        }
}

void Mlp::sync_transposed() {
    for (Layer& l : layers) l.sync_transposed();
}

Status check_hidden(std::span<const std::uint64_t> hidden) {
    if (hidden.empty()) return invalid("hidden layers must be non-empty");
    for (const std::uint64_t h : hidden)
        if (h == 0) return invalid("hidden layer widths must be >= 1");
    return {};
}

Mlp Mlp::create(std::size_t n_in, std::span<const std::uint64_t> hidden, Xoshiro256pp& rng) {
    std::vector<std::size_t> sizes;
    sizes.reserve(checked_add(hidden.size(), 2));
    sizes.push_back(n_in);
    for (std::uint64_t h : hidden) sizes.push_back(checked_count(h));
    sizes.push_back(1);
    Mlp net;
    net.n_in = n_in;
    net.layers.resize(sizes.size() - 1);
    for (std::size_t l = 0; l + 1 < sizes.size(); ++l) {
        Layer& layer = net.layers[l];
        layer.cols = sizes[l];
        layer.rows = sizes[l + 1];
        const std::size_t count = checked_count(checked_mul(layer.rows, layer.cols));
        const double scale = std::sqrt(1.0 / static_cast<double>(layer.cols));
        layer.w.resize(count);
        for (double& v : layer.w) v = scale * standard_normal(rng);
        layer.rp = checked_add(layer.rows, kBlock - 1) / kBlock * kBlock;
        layer.cp = checked_add(layer.cols, kBlock - 1) / kBlock * kBlock;
        layer.wp.assign(checked_count(checked_mul(layer.rows, layer.cp)), 0.0);
        layer.wt.assign(checked_count(checked_mul(layer.cols, layer.rp)), 0.0);
        layer.b.assign(layer.rows, 0.0);
        layer.sync_transposed();
    }
    return net;
}

double training_bytes(std::size_t n_in, std::span<const std::uint64_t> hidden, double workspaces) {
    double weights = 0.0, units = 0.0, cols = static_cast<double>(n_in);
    for (std::uint64_t h : hidden) {
        const double rows = static_cast<double>(h);
        weights += rows * cols;
        units += rows;
        cols = rows;
    }
    weights += cols;
    units += 1.0;
    const double layers = static_cast<double>(hidden.size()) + 1.0;
    constexpr double vec = sizeof(std::vector<double>);
    // w, wp, wt and b; Adam's m and v and the gradient, each of w and b.
    const double model = (6.0 * weights + 4.0 * units) * sizeof(double) + layers * (sizeof(Layer) + 6.0 * vec);
    // At least the activations, pre-activations and two adjoint vectors per layer.
    const double workspace = 4.0 * units * sizeof(double) + 5.0 * layers * vec;
    return model + workspaces * workspace;
}

double softplus(double z) {
    return std::max(z, 0.0) + quelm::log1p(quelm::exp(-std::fabs(z)));
}

double logistic(double z) {
    if (z >= 0.0) return 1.0 / (1.0 + quelm::exp(-z));
    const double e = quelm::exp(z);
    return e / (1.0 + e);
}

namespace {

std::vector<std::vector<double>> shaped(const Mlp& net, bool with_input, std::size_t skip_last) {
    std::vector<std::vector<double>> v;
    if (with_input) v.emplace_back(net.n_in, 0.0);
    for (std::size_t l = 0; l < net.layers.size(); ++l)
        v.emplace_back(l + skip_last < net.layers.size() ? net.layers[l].rows : 0, 0.0);
    return v;
}

// Softplus and logistic of one pre-activation from a single exponential:
// exp(-|z|) is the exponential each of the two formulas evaluates.
inline void softplus_and_logistic(double z, double& sp, double& sg) {
    const double e = quelm::exp(-std::fabs(z));
    sp = std::max(z, 0.0) + quelm::log1p(e);
    sg = z >= 0.0 ? 1.0 / (1.0 + e) : e / (1.0 + e);
}

// The same for each lane.
template <class V>
QUELM_ALWAYS_INLINE void softplus_and_logistic_lanes(V z, V& sp, V& sg) {
    const V zero = lanes::splat<V>(0.0);
    const V e = exp_lanes(-lanes::abs(z));
    sp = lanes::select(z < 0.0, zero, z) + log1p_lanes(e);  // std::max(z, 0.0)
    const V one_e = 1.0 + e;
    sg = lanes::select(z >= 0.0, 1.0 / one_e, e / one_e);
}

// Softplus and logistic of a layer's pre-activations, a vector's lanes at a time (a
// hidden unit's exponential and logarithm are most of a small network's pass).
template <class V>
void activations_lanes(const double* z, double* sp, double* sg, std::size_t n) {
    constexpr auto w = static_cast<std::size_t>(lanes::size_v<V>);
    std::size_t k = 0;
    for (; k + w <= n; k += w) {
        V a, b;
        softplus_and_logistic_lanes(lanes::load<V>(z + k), a, b);
        lanes::store(sp + k, a);
        lanes::store(sg + k, b);
    }
    for (; k < n; ++k) softplus_and_logistic(z[k], sp[k], sg[k]);
}

QUELM_SIMD_KERNEL_TWIN(activations_at_width, activations_lanes)

void activations(const double* z, double* sp, double* sg, std::size_t n) { activations_at_width(z, sp, sg, n); }

}  // namespace

Forward::Forward(const Mlp& net) : a(shaped(net, true, 0)), z(shaped(net, false, 0)), sig(shaped(net, false, 1)) {
    if (!sig.empty()) sig.pop_back();
}

Twin::Twin(const Mlp& net) : zbar(shaped(net, false, 0)), abar(shaped(net, false, 1)), input_grad(net.n_in, 0.0) {}

void affine(const Layer& W, std::span<const double> x, std::span<double> out) {
    matvec(W, x, out);
    for (std::size_t r = 0; r < W.rows; ++r) out[r] = out[r] + W.b[r];
}

namespace {

QUELM_SIMD_KERNEL(matvec_at_width, matvec_lanes)
QUELM_SIMD_KERNEL(matvec_t_at_width, matvec_t_lanes)
QUELM_SIMD_KERNEL(accum_outer_at_width, accum_outer_lanes)

}  // namespace

void matvec(const Layer& W, std::span<const double> x, std::span<double> out) { matvec_at_width(W, x, out); }

void matvec_t(const Layer& W, std::span<const double> v, std::span<double> out) { matvec_t_at_width(W, v, out); }

void accum_outer(std::span<double> G, std::size_t cols, std::span<const double> a, std::span<const double> b) {
    accum_outer_at_width(G, cols, a, b);
}

void forward(const Mlp& net, std::span<const double> x, Forward& f) {
    std::copy(x.begin(), x.end(), f.a[0].begin());
    const std::size_t L = net.layers.size();
    if (L == 2 && net.n_in == 1) {
        // One input, one hidden layer: the same sums written out, without the kernel calls.
        const Layer& l0 = net.layers[0];
        const Layer& l1 = net.layers[1];
        const std::size_t H = l0.rows;
        const double xv = x[0];
        double* __restrict z0 = f.z[0].data();
        double* __restrict a1 = f.a[1].data();
        double* __restrict s0 = f.sig[0].data();
        const double* __restrict w0 = l0.w.data();
        const double* __restrict b0 = l0.b.data();
        for (std::size_t k = 0; k < H; ++k) z0[k] = (0.0 + w0[k] * xv) + b0[k];
        activations(z0, a1, s0, H);
        const double* __restrict w1 = l1.w.data();
        double sum = 0.0;
        for (std::size_t k = 0; k < H; ++k) sum += w1[k] * a1[k];
        const double out = sum + l1.b[0];
        f.z[1][0] = out;
        f.a[2][0] = out;
        return;
    }
    for (std::size_t l = 0; l < L; ++l) {
        std::vector<double>& z = f.z[l];
        affine(net.layers[l], f.a[l], z);
        std::vector<double>& out = f.a[l + 1];
        if (l + 1 == L) {
            std::copy(z.begin(), z.end(), out.begin());
        } else {
            activations(z.data(), out.data(), f.sig[l].data(), z.size());
        }
    }
}

double predict(const Mlp& net, std::span<const double> x, Forward& f) {
    forward(net, x, f);
    return f.output();
}

void twin(const Mlp& net, const Forward& f, Twin& t) {
    const std::size_t L = net.layers.size();
    t.zbar[L - 1][0] = 1.0;
    for (std::size_t l = L - 1; l >= 1; --l) {
        std::vector<double>& abar = t.abar[l - 1];
        matvec_t(net.layers[l], t.zbar[l], abar);
        const std::vector<double>& s = f.sig[l - 1];
        std::vector<double>& zb = t.zbar[l - 1];
        for (std::size_t k = 0; k < zb.size(); ++k) zb[k] = abar[k] * s[k];
    }
    matvec_t(net.layers[0], t.zbar[0], t.input_grad);
}

}  // namespace quelm::ml

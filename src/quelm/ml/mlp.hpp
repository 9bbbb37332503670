// Small dense network with softplus hidden units and one linear output unit:
// construction from a random stream, the forward pass, the input-gradient (twin)
// pass, and the vector kernels the trainers share. Weights are stored row-major
// with a transposed copy so that every kernel walks memory contiguously.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "quelm/core/error.hpp"
#include "quelm/core/random.hpp"

namespace quelm::ml {

// One affine layer: rows = output units, cols = input units.
struct Layer {
    std::size_t rows = 0;
    std::size_t cols = 0;
    std::vector<double> w;   // row-major rows x cols
    std::vector<double> b;   // rows
    // Padded copies for the kernels, refreshed by sync_transposed after every change of w:
    // wp is w with rows of stride cp, wt the transpose with rows of stride rp (pads are 0).
    std::size_t rp = 0, cp = 0;
    std::vector<double> wp, wt;

    [[nodiscard]] const double* row(std::size_t r) const { return w.data() + r * cols; }
    void sync_transposed();
};

struct Mlp {
    std::size_t n_in = 0;
    std::vector<Layer> layers;  // input side first; the last has one output unit

    // Widths [n_in, hidden..., 1]; one standard normal per weight, layer by layer, row by row,
    // scaled by sqrt(1 / fan_in); zero biases. Huge widths throw std::bad_alloc.
    static Mlp create(std::size_t n_in, std::span<const std::uint64_t> hidden, Xoshiro256pp& rng);
    void sync_transposed();
};

// The hidden widths an engine may build from: at least one layer, each at least one
// unit wide (a zero-width layer cuts the input off and leaves a constant network).
[[nodiscard]] Status check_hidden(std::span<const std::uint64_t> hidden);

// A lower bound of the bytes a trainer allocates for a network of widths [n_in, hidden..., 1]:
// its weights with their padded and transposed copies, Adam's two moments and one gradient,
// and `workspaces` per-sample workspaces (forward cache and adjoints). Never overflows.
[[nodiscard]] double training_bytes(std::size_t n_in, std::span<const std::uint64_t> hidden, double workspaces);

// log(1 + e^z) without overflow, and its derivative the logistic function.
[[nodiscard]] double softplus(double z);
[[nodiscard]] double logistic(double z);

// The cache of one forward pass, sized once per network and reused.
struct Forward {
    std::vector<std::vector<double>> a;    // L + 1 activations; a[0] is the input
    std::vector<std::vector<double>> z;    // L pre-activations
    std::vector<std::vector<double>> sig;  // logistic(z) of the hidden layers (L - 1 entries)

    explicit Forward(const Mlp& net);
    [[nodiscard]] double output() const { return a.back()[0]; }
};

// Adjoints of the output, sized once per network and reused.
struct Twin {
    std::vector<std::vector<double>> zbar;  // L entries, the last is [1]
    std::vector<std::vector<double>> abar;  // L entries, the last stays empty
    std::vector<double> input_grad;

    explicit Twin(const Mlp& net);
};

void forward(const Mlp& net, std::span<const double> x, Forward& f);
// Output value of one input; same arithmetic as forward().
[[nodiscard]] double predict(const Mlp& net, std::span<const double> x, Forward& f);
void twin(const Mlp& net, const Forward& f, Twin& t);

// Kernels, at the SIMD width of core/simd.hpp. Each dot product runs left to right from
// zero in column order, whatever the loop nest or width, so results equal the plain
// row-by-row evaluation bit for bit.
void affine(const Layer& W, std::span<const double> x, std::span<double> out);  // W x + b
void matvec(const Layer& W, std::span<const double> x, std::span<double> out);  // W x
void matvec_t(const Layer& W, std::span<const double> v, std::span<double> out);  // W^T v, row by row
// G += a b^T for a rows x cols matrix G stored row-major.
void accum_outer(std::span<double> G, std::size_t cols, std::span<const double> a, std::span<const double> b);

}  // namespace quelm::ml

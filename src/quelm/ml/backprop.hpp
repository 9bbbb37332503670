// Back-propagation through a network: gradient accumulators shaped like it, value
// gradients, and the forward-over-reverse gradient of the differential loss. Each pass
// comes whole or in two halves (per-sample adjoints, then the additions in sample order).
#pragma once

#include <cstddef>
#include <vector>

#include "quelm/ml/mlp.hpp"

namespace quelm::ml {

struct Grad {
    std::vector<std::vector<double>> w;  // per layer, row-major like Layer::w
    std::vector<std::vector<double>> b;

    static Grad zeros_like(const Mlp& net);
    void clear();
    void scale(double factor);
};
// Scratch vectors of the gradient passes, sized once per network.
struct GradScratch {
    std::vector<std::vector<double>> delta;  // L adjoint (tangent) vectors
    std::vector<std::vector<double>> zdot;   // L pre-activation tangents
    std::vector<std::vector<double>> adot;   // L - 1 hidden activation tangents
    std::vector<double> t;                   // widest layer input
    double w = 0.0;                          // input tangent of the differential pass

    explicit GradScratch(const Mlp& net);
};

// grad += g * d(output)/d(parameters) at the input cached in f.
void backward_value(const Mlp& net, const Forward& f, Grad& grad, double g, GradScratch& s);
// The same in two halves: the adjoints into s (no shared state, so samples may run in parallel),
// then the additions into grad (in sample order).
void backward_value_adjoints(const Mlp& net, const Forward& f, double g, GradScratch& s);
void accumulate_value(const Mlp& net, const Forward& f, const GradScratch& s, Grad& grad);

// grad += e_v * d(output)/d(theta) + w * d(input derivative)/d(theta) for a one-input
// network, from the forward cache f and the twin adjoints tw of the same input.
void backward_differential(const Mlp& net, const Forward& f, const Twin& tw, double e_v, double w, Grad& grad,
                           GradScratch& s);
void differential_adjoints(const Mlp& net, const Forward& f, const Twin& tw, double e_v, double w, GradScratch& s);
void accumulate_differential(const Mlp& net, const Forward& f, const Twin& tw, const GradScratch& s, Grad& grad);
}  // namespace quelm::ml

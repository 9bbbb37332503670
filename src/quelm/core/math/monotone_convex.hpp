// Hagan and West's monotone convex interpolation ("Interpolation methods for curve
// construction", Applied Mathematical Finance 13(2), 2006): a function f known by its
// integrals from the first node, I_i = ∫_{x_0}^{x_i} f. Between nodes f is the interval's
// mean plus a piecewise quadratic that keeps f continuous, reproduces every interval's mean
// exactly and adds no extremum that the means do not have. Node values where both
// neighbouring means are positive are held in [0, 2 min(means)], so f stays positive
// where the means are (the paper's positivity amendment). For yield curves: x is time, f
// the instantaneous forward rate, I_i = -ln P(x_i).
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <vector>

#include "quelm/core/error.hpp"

namespace quelm {

class MonotoneConvex {
public:
    // Nodes strictly increasing (at least two), integrals of the same length, all finite.
    [[nodiscard]] static Result<MonotoneConvex> create(std::span<const double> xs, std::span<const double> integrals);

    // ∫_{x_0}^{x} f for x in [x_0, x_n] (the caller keeps x in range); the node's own
    // integral at a node.
    [[nodiscard]] double integral(double x) const;
    // f at the first and at the last node.
    [[nodiscard]] double first_value() const { return f_.front(); }
    [[nodiscard]] double last_value() const { return f_.back(); }

    // grad[j] += weight · ∂integral(x)/∂I_j (grad holds one entry per node).
    void add_integral_gradient(double x, double weight, std::span<double> grad) const;
    // grad[j] += weight · ∂f(x_n)/∂I_j.
    void add_last_value_gradient(double weight, std::span<double> grad) const;

    [[nodiscard]] std::span<const double> xs() const { return xs_; }
    [[nodiscard]] std::span<const double> integrals() const { return integrals_; }

private:
    MonotoneConvex() = default;
    // A node value as a combination of two interval means: f_j = a·fd[p] + b·fd[q].
    struct Combination {
        std::size_t p = 0, q = 0;
        double a = 0.0, b = 0.0;
    };
    [[nodiscard]] std::size_t interval_of(double x) const;
    // grad (over nodes) += weight · ∂fd[k]/∂I, and += weight · ∂f_j/∂I.
    void add_mean_gradient(std::size_t k, double weight, std::span<double> grad) const;
    void add_node_gradient(std::size_t j, double weight, std::span<double> grad) const;

    std::vector<double> xs_, integrals_;
    std::vector<double> h_, fd_;  // per interval: width and mean
    std::vector<double> f_;       // per node: value
    std::vector<Combination> c_;  // per node: how the value follows the means
};

}  // namespace quelm

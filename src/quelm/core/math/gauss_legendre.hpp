// Gauss-Legendre rules on [-1, 1]: nodes and weights for a fixed set of orders, computed
// once per process by Newton's method on the Legendre recurrence (same bits every run).
#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace quelm {

struct GaussLegendre {
    std::span<const double> nodes;    // ascending
    std::span<const double> weights;  // sum to 2
};

// A rule of any order n >= 1, nodes ascending (for a caller that keeps one fixed rule).
struct GaussLegendreRule {
    std::vector<double> nodes, weights;
};
[[nodiscard]] GaussLegendreRule gauss_legendre_rule(std::size_t n);

// The orders a rule is kept for, ascending.
[[nodiscard]] std::span<const std::size_t> gauss_legendre_orders();

// The smallest kept rule with at least n nodes (the largest when none has).
[[nodiscard]] GaussLegendre gauss_legendre_at_least(double n);

}  // namespace quelm

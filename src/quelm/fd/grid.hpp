// The space grid of the finite-difference engines: nodes in log-spot from a sinh map, dense
// about a centre (the strike) and sparse towards the edges, with chosen points (the strike, a
// barrier) exactly on nodes.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

namespace quelm::fd {

// Nodes from lo to hi (both included), about `steps` intervals, with every knot strictly
// inside (lo, hi) a node. The map is x = centre + alpha sinh(u) with u uniform between knots:
// each piece between knots takes its share of the steps by its length in u, so the spacing
// stays smooth across a knot. alpha sets how dense the centre is (spacing near alpha du there).
[[nodiscard]] std::vector<double> sinh_grid(double lo, double hi, double centre, double alpha, std::size_t steps,
                                            std::span<const double> knots);

// The log-spot span of a grid from [lo, hi] about the strike (log_strike, a knot), and a
// barrier at log level `log_barrier` if any: a knock-out's barrier is the edge on its side
// (down: lo, up: hi); a knock-in's is a knot, the span reaching at least `reach` beyond it.
struct Span {
    double lo, hi;
    std::vector<double> knots;
};
[[nodiscard]] Span barrier_span(double lo, double hi, double log_strike, std::optional<double> log_barrier,
                                bool down, bool in, double reach);

// The index of the node nearest x (nodes ascending).
[[nodiscard]] std::size_t nearest_node(std::span<const double> nodes, double x);

// The cubic through the four nodes about x (nodes ascending, at least four), and its first
// and second derivatives there.
struct Interpolated {
    double value, first, second;
};
[[nodiscard]] Interpolated cubic_at(std::span<const double> nodes, std::span<const double> values, double x);

}  // namespace quelm::fd

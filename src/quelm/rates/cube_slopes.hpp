// A cube vol's slopes in the quotes it is calibrated from: a vol at (expiry, tenor, strike)
// reads up to four nodes, and each node's smile moves with each of its quotes through its
// SABR fit. Numerical: each quote bumped by ±h and ±h/2 (h 1% of the quote) and its node
// refitted as build_cube fits it, central differences Richardson-extrapolated (O(h^4)).
// The refits depend on the cube alone, so they are made once per node and kept in a cache
// shared by every vol read off the cube; the slopes are the same bits with or without it.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "quelm/core/error.hpp"
#include "quelm/rates/swaption_cube.hpp"

namespace quelm::rates {

struct CubeRefits;
[[nodiscard]] std::shared_ptr<CubeRefits> new_cube_refits(std::size_t nodes);

// d vol / d quote `strike` (its column) of node `node` (its index in the cube's nodes).
struct CubeSlope {
    std::size_t node = 0, strike = 0;
    double slope = 0.0;
};
// The cache must be the cube's own (new_cube_refits(c.nodes.size())).
[[nodiscard]] Result<std::vector<CubeSlope>> cube_vol_slopes(const SwaptionCube& c, double expiry_years,
                                                             double tenor_years, double strike, CubeRefits& cache);

}  // namespace quelm::rates

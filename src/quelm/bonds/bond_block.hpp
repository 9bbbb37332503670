// The array forms of a fixed-rate bond's price from a yield and yield from a price: up to
// kBondBlock elements of one array call at once, at the SIMD width core/simd.hpp chose, each
// with the bits of FixedRateBond::clean_price_from_yield or yield_to_maturity. Elements
// outside the common case (a non-finite yield, a discount base 1 + y/f that is not
// positive and normal, a price that is not positive, a search that fails, a bond too long
// to price without polling for Ctrl-C) are left to the caller, which takes them one by one.
#pragma once

#include <cstddef>

#include "quelm/bonds/bond.hpp"

namespace quelm::bonds {

inline constexpr std::size_t kBondBlock = 256;

// Sets done[i] for the yields it priced and writes the clean price at y[i] to out[i].
void clean_price_block(const FixedRateBond& bond, const double* y, std::size_t n, double* out, bool* done);
// Sets done[i] for the prices it solved and writes the yield at clean price p[i] to out[i]:
// yield_from_dirty's Brent search per element, the price evaluations of the elements
// still searching done together in lanes.
void yield_block(const FixedRateBond& bond, const double* p, std::size_t n, double* out, bool* done);

}  // namespace quelm::bonds

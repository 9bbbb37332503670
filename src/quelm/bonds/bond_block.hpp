// The array form of a fixed-rate bond's price from a yield: up to kBondBlock yields of one
// array call at once, at the SIMD width core/simd.hpp chose, each price with the bits of
// FixedRateBond::clean_price_from_yield. Yields outside the common case (a non-finite one,
// a discount base 1 + y/f that is not positive and normal, a bond too long to price
// without polling for Ctrl-C) are left to the caller, which prices them one by one.
#pragma once

#include <cstddef>

#include "quelm/bonds/bond.hpp"

namespace quelm::bonds {

inline constexpr std::size_t kBondBlock = 16;

// Sets done[i] for the yields it priced and writes the clean price at y[i] to out[i].
void clean_price_block(const FixedRateBond& bond, const double* y, std::size_t n, double* out, bool* done);

}  // namespace quelm::bonds

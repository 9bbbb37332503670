// The array forms of a dated bond's dirty and clean price at a yield and a settlement date:
// up to kDatedBlock elements of one array call at once, in lanes at the SIMD width
// core/simd.hpp chose, each with the bits of DatedBond::dirty_price_at or clean_price_at.
// An element settling inside a plain coupon period (StreetPeriod) is priced from the
// period's figures without its flows; elements settling on another date shared in the block
// share that date's flows, built once. Elements outside the common case (a day outside the
// calendar or the bond's life, a non-finite yield, a discount base 1 + y/f that is not
// positive and normal) are left to the caller, which prices them one by one.
#pragma once

#include <cstddef>
#include <cstdint>

#include "quelm/bonds/dated_bond.hpp"

namespace quelm::bonds {

inline constexpr std::size_t kDatedBlock = 256;

// Sets done[i] for the elements it priced and writes the price at yield y[i], settling on
// day settle[i] (days since 1970-01-01), to out[i]: clean when `clean`, else dirty.
void dated_price_block(const DatedBond& bond, const double* y, const std::int64_t* settle, std::size_t n, bool clean,
                       double* out, bool* done);

}  // namespace quelm::bonds

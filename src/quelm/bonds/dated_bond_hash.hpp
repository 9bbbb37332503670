// A hash of every term a dated bond compares by (0.0 and -0.0 hash alike, as they compare).
#pragma once

#include <cstdint>

#include "quelm/bonds/dated_bond.hpp"
#include "quelm/core/hash.hpp"

namespace quelm::bonds {

void hash_into(Hasher& h, const DatedBondTerms& t);
[[nodiscard]] std::uint64_t hash_of(const DatedBondTerms& t);

}  // namespace quelm::bonds

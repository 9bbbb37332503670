// The exact ("rational") implied-volatility solve of pricing::implied_volatility_rational for
// a block of up to kVanillaBlock options of an array call: the checks and bounds one by one,
// then the solves of the block together in SIMD lanes, each option with the bits of its
// scalar call. Units as in option.hpp; the quote is the block's `price`.
#pragma once

#include "quelm/core/vanilla_block.hpp"

namespace quelm::pricing {

// Writes option i's volatility to out[i] and sets done[i]; an option whose checks fail is
// left (done[i] = false) to the caller, which reports it.
void implied_volatility_rational_block(const VanillaBlock& block, double* out, bool* done);

}  // namespace quelm::pricing

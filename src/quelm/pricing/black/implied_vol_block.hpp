// The implied-volatility solves of pricing::implied_volatility for a block of up to
// kVanillaBlock options of an array call, the solves of a block together in SIMD lanes, each
// option with the bits of its scalar call. Units as in option.hpp; the quote is `price`.
#pragma once

#include "quelm/pricing/vanilla/vanilla_block.hpp"

namespace quelm::pricing {

// Writes option i's volatility to out[i] and sets done[i]; an option whose checks fail is
// left (done[i] = false) to the caller, which reports it.
void implied_volatility_rational_block(const VanillaBlock& block, double* out, bool* done);

// The Newton method's block (pricing/vanilla/vanilla_block.hpp), finishing here the options whose
// Newton search the lanes did not settle (the exact solver or Brent, as the scalar call),
// without running their Newton search again.
void implied_volatility_newton_block(const VanillaBlock& block, double* out, bool* done);

}  // namespace quelm::pricing

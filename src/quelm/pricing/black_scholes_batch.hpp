// Black-Scholes over a block of options at once (see vanilla_block.hpp), with the bits of
// black_scholes for every option it prices.
#pragma once

#include "quelm/core/vanilla_block.hpp"

namespace quelm::pricing {

// Prices the block's ordinary options into out[i] and sets done[i]; leaves done[i] false
// for every other option, which the caller prices one by one.
void black_scholes_block(const VanillaBlock& block, double* out, bool* done);

}  // namespace quelm::pricing

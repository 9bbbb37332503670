// Analytic Greeks over a block of options at once (see vanilla_block.hpp), with the bits of
// analytic_greeks for every option it takes.
#pragma once

#include "quelm/core/vanilla_block.hpp"
#include "quelm/greeks/analytic.hpp"

namespace quelm::greeks {

// The Greeks of the block's ordinary options into out[i], done[i] set; done[i] false for
// every other option, which the caller takes one by one.
void analytic_greeks_block(const VanillaBlock& block, Greeks* out, bool* done);

}  // namespace quelm::greeks

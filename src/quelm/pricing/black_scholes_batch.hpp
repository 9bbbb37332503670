// Black-Scholes over a small block of options at once, stage by stage: the logarithms, then
// d1 and d2, then the exponentials, then Phi's polynomials. Each stage is a short loop of
// independent work the processor overlaps (and the compiler vectorises where it can), where
// one option at a time is a single long dependency chain. Every operation is the one
// black_scholes does, in the same order, so a priced option has its bits.
#pragma once

#include <cstddef>

#include "quelm/core/option.hpp"

namespace quelm::pricing {

inline constexpr std::size_t kBlackScholesBlock = 16;

// The options of one block, n <= kBlackScholesBlock of them, one array per input.
struct VanillaBlock {
    std::size_t n = 0;
    double spot[kBlackScholesBlock], strike[kBlackScholesBlock], rate[kBlackScholesBlock], vol[kBlackScholesBlock],
        expiry[kBlackScholesBlock], dividend_yield[kBlackScholesBlock];
    OptionType type[kBlackScholesBlock];
};

// Prices the block's ordinary options (finite inputs; spot, strike, vol and expiry > 0; a
// finite drift) into out[i] and sets done[i]; leaves done[i] false for every other option,
// which the caller prices one by one.
void black_scholes_block(const VanillaBlock& block, double* out, bool* done);

}  // namespace quelm::pricing

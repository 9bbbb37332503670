// A small block of vanilla options evaluated together, stage by stage: the logarithms and
// discount factors, then d1 and d2, then Phi's exponentials. Each stage is a short loop of
// independent work the processor overlaps, where one option at a time is a single long
// dependency chain. Every operation is the one the one-by-one closed forms do, in the same
// order, so each option keeps its bits.
#pragma once

#include <cstddef>

#include "quelm/core/option.hpp"

namespace quelm {

inline constexpr std::size_t kVanillaBlock = 16;

// The options of one block, n <= kVanillaBlock of them, one array per input.
struct VanillaBlock {
    std::size_t n = 0;
    double spot[kVanillaBlock], strike[kVanillaBlock], rate[kVanillaBlock], vol[kVanillaBlock],
        expiry[kVanillaBlock], dividend_yield[kVanillaBlock];
    OptionType type[kVanillaBlock];
};

// Per option: whether it is ordinary (finite inputs; spot, strike, vol and expiry > 0; a
// finite drift), and for those the terms of the closed forms: n1 = Phi(+-d1) and
// n2 = Phi(+-d2) (minus for a put), e1 the exponential Phi took of +-d1.
struct LognormalTerms {
    bool plain[kVanillaBlock];
    double sqrt_t[kVanillaBlock], dr[kVanillaBlock], dq[kVanillaBlock], d1[kVanillaBlock], d2[kVanillaBlock],
        n1[kVanillaBlock], n2[kVanillaBlock], e1[kVanillaBlock];
};
void lognormal_terms(const VanillaBlock& block, LognormalTerms& terms);

}  // namespace quelm

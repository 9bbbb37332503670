// The array form of lookback_price: up to kLookbackBlock options of one array call at once,
// at the SIMD width core/simd.hpp chose, each price with the bits of the scalar call. Only
// the closed form's common case runs in lanes (finite inputs, spot, strike, vol and time
// > 0, the power term in pow's main range and its product plain); the rest is left to the
// caller, which prices them one by one. Units as in option.hpp.
#pragma once

#include <cstddef>

#include "quelm/pricing/option.hpp"
#include "quelm/pricing/lookback.hpp"

namespace quelm::pricing {

inline constexpr std::size_t kLookbackBlock = 256;

struct LookbackBlock {
    std::size_t n = 0;
    double spot[kLookbackBlock], strike[kLookbackBlock], rate[kLookbackBlock], vol[kLookbackBlock],
        expiry[kLookbackBlock], dividend_yield[kLookbackBlock];
    OptionType type[kLookbackBlock];
    StrikeType strike_type[kLookbackBlock];
};

// Sets done[i] for the options it priced and writes option i's price to out[i].
void lookback_price_block(const LookbackBlock& block, double* out, bool* done);

}  // namespace quelm::pricing

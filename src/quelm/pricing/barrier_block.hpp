// The array form of barrier_price: up to kBarrierBlock options of one array call at once,
// at the SIMD width core/simd.hpp chose, each price with the bits of the scalar call. Only
// the closed form's common case runs in lanes (finite inputs, spot, strike, barrier, vol
// and time > 0, the barrier not yet breached, every power and reflection term in range);
// the rest (breached barriers, zero vol or time, tiny vols, invalid inputs) is left to the
// caller, which prices them one by one. Units as in option.hpp; the barrier in price units.
#pragma once

#include <cstddef>

#include "quelm/pricing/option.hpp"
#include "quelm/pricing/barrier.hpp"

namespace quelm::pricing {

inline constexpr std::size_t kBarrierBlock = 256;

struct BarrierBlock {
    std::size_t n = 0;
    double spot[kBarrierBlock], strike[kBarrierBlock], rate[kBarrierBlock], vol[kBarrierBlock],
        expiry[kBarrierBlock], dividend_yield[kBarrierBlock], level[kBarrierBlock];
    OptionType type[kBarrierBlock];
    BarrierType kind[kBarrierBlock];
};

// Sets done[i] for the options it priced and writes option i's price to out[i].
void barrier_price_block(const BarrierBlock& block, double* out, bool* done);

}  // namespace quelm::pricing

// The array forms of the vanilla kernel (vanilla_lanes.hpp): up to kVanillaBlock options of
// an array call at once, at the SIMD width core/simd.hpp chose, each option with the bits
// of its scalar call. Options outside the ordinary case (zero spot, vol or time, non-finite
// or invalid inputs, a quote the Newton solve does not settle) are left to the caller,
// which prices them one by one. Units as in option.hpp.
#pragma once

#include <cstddef>

#include "quelm/pricing/option.hpp"

namespace quelm {

inline constexpr std::size_t kVanillaBlock = 256;

// The options of one block, n <= kVanillaBlock of them, one array per input (`price` is the
// quote an implied volatility is solved for; `vol` is unused there).
struct VanillaBlock {
    std::size_t n = 0;
    double spot[kVanillaBlock], strike[kVanillaBlock], rate[kVanillaBlock], vol[kVanillaBlock],
        expiry[kVanillaBlock], dividend_yield[kVanillaBlock], price[kVanillaBlock];
    OptionType type[kVanillaBlock];
};

// Each sets done[i] for the options it computed, and writes option i's result to out[i]
// (greeks: delta, gamma, vega, theta, rho of option i to out[o * stride + i], o = 0..4).
// out (each of the five rows, stride >= kVanillaBlock) has room for kVanillaBlock values:
// price and greeks fill every slot, and those of options not done hold no result.
void black_scholes_block(const VanillaBlock& block, double* out, bool* done);
void greeks_block(const VanillaBlock& block, double* out, std::size_t stride, bool* done);
// The Newton solve of pricing::implied_volatility (its default method), and its Brent search
// where Newton fails.
void implied_volatility_block(const VanillaBlock& block, double* out, bool* done);
// The same, saying why an option inside the bounds was left: newton_state[i] = 1 where the
// answer of Newton, or of Brent after Newton failed, does not reprice a tiny quote (the exact
// solver answers), 2 where the scalar call's Brent search must be run again (a lane's search
// asked for a volatility that is not positive, which it never should), 3 where Newton and
// Brent both failed (an error), else 0.
void implied_volatility_block(const VanillaBlock& block, double* out, bool* done, unsigned char* newton_state);

}  // namespace quelm

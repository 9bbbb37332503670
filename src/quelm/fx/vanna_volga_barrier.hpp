// Vanna-volga prices of single-barrier FX options on a smile: the Black-Scholes-Merton closed
// form at the ATM vol, corrected by the cost of the vanna and volga it carries. Three calls
// at the smile's central pillars (the ATM and its neighbours) are weighted to match the
// barrier's vega, vanna and volga at the ATM vol; their smile prices less their ATM-vol
// prices are the cost, and a knock-out takes it in proportion to its probability of not
// touching the barrier (the practitioners' survival weighting, Wystup, "FX Options and
// Structured Products", 2006, 1.7). A knock-in is the smile's vanilla less the knock-out
// (without its rebate), plus its rebate paid at expiry if never knocked in.
#pragma once

#include "quelm/core/error.hpp"
#include "quelm/fx/smile.hpp"
#include "quelm/pricing/barrier.hpp"

namespace quelm::fx {

struct FxBarrier {
    double strike;
    double level;
    pricing::BarrierType type;
    OptionType option_type;
    double rebate = 0.0;  // paid at the touch for a knock-out, at expiry for a knock-in never knocked in
};

[[nodiscard]] Result<double> vanna_volga_barrier_price(const FxSmile& smile, const FxBarrier& b);

// The closed form at one flat vol, the rebate included (the flat-smile limit of the above).
[[nodiscard]] Result<double> flat_barrier_price(const FxMarket& m, const FxBarrier& b);

}  // namespace quelm::fx

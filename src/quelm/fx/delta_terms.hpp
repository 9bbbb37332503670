// The four FX deltas of one option from d1 and d2, shared by the Greeks, the delta call and
// the smiles. Inputs already checked (spot > 0, strike > 0, vol >= 0, t >= 0).
#pragma once

#include "quelm/fx/garman_kohlhagen.hpp"

namespace quelm::fx {

// d1 and d2 at total deviation s = vol sqrt(t); at s = 0 both are the sign of ln(F / K)
// times infinity (0 at the money: the limit of s / 2).
struct DTerms {
    double d1, d2;
};
[[nodiscard]] DTerms d_terms(double forward, double strike, double s);

struct FourDeltas {
    double spot, forward, spot_pa, forward_pa;
};
[[nodiscard]] FourDeltas four_deltas(const FxMarket& m, double strike, OptionType type);

}  // namespace quelm::fx

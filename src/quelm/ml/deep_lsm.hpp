// Deep least-squares Monte Carlo for American options: the Longstaff-Schwartz backward
// induction with the continuation value at each exercise date fitted by a small network
// trained afresh on the in-the-money paths.
#pragma once

#include "quelm/ml/american.hpp"

namespace quelm::ml {

[[nodiscard]] Result<PriceEstimate> deep_lsm_american(const OptionContract& o, const MarketInputs& m,
                                                      const AmericanSettings& s, Cancel& cancel = never_cancel());

// The estimate beside the 2000-step tree, method "deep-lsm".
[[nodiscard]] Result<AmericanReport> deep_lsm_price(const OptionContract& o, const MarketInputs& m,
                                                    const AmericanSettings& s, Cancel& cancel = never_cancel());

}  // namespace quelm::ml

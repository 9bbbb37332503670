// Black-Scholes-Merton closed-form price of a European call or put with a
// continuous dividend yield, with explicit limits for zero expiry, spot and vol.
#pragma once

#include "quelm/core/error.hpp"
#include "quelm/pricing/option.hpp"

namespace quelm::pricing {

// Validates strike > 0, spot >= 0, vol >= 0, expiry >= 0 (in that order; NaN passes).
// Every other input goes through the vanilla kernel (pricing/vanilla/vanilla_lanes.hpp).
[[nodiscard]] Result<double> black_scholes(const OptionContract& contract, const MarketInputs& market);

}  // namespace quelm::pricing

// Black-Scholes-Merton implied volatility (annual, per unit) from a quoted
// price: no-arbitrage bounds check, Newton from an analytic guess, Brent fallback.
#pragma once

#include "quelm/core/error.hpp"
#include "quelm/core/option.hpp"

namespace quelm::pricing {

// market.vol is ignored. Requires strike > 0, spot > 0, expiry > 0.
[[nodiscard]] Result<double> implied_volatility(const OptionContract& contract, const MarketInputs& market,
                                                double market_price);

}  // namespace quelm::pricing

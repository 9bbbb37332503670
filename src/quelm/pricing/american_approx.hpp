// Closed-form approximations of American options with a continuous dividend yield:
// Bjerksund-Stensland (2002, the two-step flat boundary) and Barone-Adesi-Whaley (1987,
// quadratic approximation); and the volatility implied by a price under either.
// Spot and strike in price units, rate and yield continuously compounded, vol annual, t years.
#pragma once

#include "quelm/core/choice.hpp"
#include "quelm/core/error.hpp"
#include "quelm/pricing/option.hpp"

namespace quelm::pricing {

enum class AmericanApproximation : unsigned char { BjerksundStensland, BaroneAdesiWhaley };

inline constexpr Choices<AmericanApproximation, 2> kAmericanApproximations{
    "method", Listing::Quoted,
    {{{"bjerksund-stensland", AmericanApproximation::BjerksundStensland},
      {"barone-adesi-whaley", AmericanApproximation::BaroneAdesiWhaley}}},
    true, true};

// Same validation as black_scholes (NaN passes and gives NaN). Never below the European
// price or the intrinsic value; equal to the European price where early exercise never
// pays (a call without dividend yield, a put without a positive rate).
[[nodiscard]] Result<double> american_approximation(const OptionContract& contract, const MarketInputs& market,
                                                    AmericanApproximation method);

// market.vol is ignored. Requires strike > 0, spot > 0, expiry > 0 and a price from the
// intrinsic value (1e-12 below it tolerated, giving 0) up to the price at vol = 10;
// solved by bracketing in at most 200 steps.
[[nodiscard]] Result<double> american_implied_volatility(const OptionContract& contract, const MarketInputs& market,
                                                         double market_price, AmericanApproximation method);

}  // namespace quelm::pricing

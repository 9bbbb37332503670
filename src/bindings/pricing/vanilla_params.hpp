// The parameters the vanilla pricers share, written once for all their declarations (and
// the block adapters that read their operands by name).
#pragma once

#include "frame/signature.hpp"

namespace quelm::py {

// The contract and its market: spot, strike, rate, vol, t, option_type.
inline constexpr ParamList kVanillaTerms{"spot", "strike", "rate", "vol", "t", "option_type"};
// The same for a solver from a quote: the quote in front, no volatility.
inline constexpr ParamList kQuoteTerms{"market_price", "spot", "strike", "rate", "t", "option_type"};
// The continuous dividend yield most of them end with.
inline constexpr ParamList kDividendYield{{"dividend_yield", "0.0"}};

// A European option's price and Greeks: the terms, then the dividend yield.
inline constexpr ParamList kVanillaParams = kVanillaTerms + kDividendYield;

}  // namespace quelm::py

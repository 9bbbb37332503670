// Continuously monitored lookback calls and puts on a freshly issued contract
// (running max and min both equal the spot) under Black-Scholes-Merton dynamics.
#pragma once

#include <string_view>

#include "quelm/core/error.hpp"
#include "quelm/pricing/option.hpp"
#include "quelm/core/text.hpp"

namespace quelm::pricing {

enum class StrikeType : unsigned char { Floating, Fixed };

// "floating"/"float" or "fixed" after lower-casing.
inline constexpr Choices<StrikeType, 3> kStrikeTypes{
    "strike_type", Listing::Quoted,
    {{{"floating", StrikeType::Floating}, {"float", StrikeType::Floating}, {"fixed", StrikeType::Fixed}}}};

[[nodiscard]] Result<double> lookback_price(const OptionContract& o, const MarketInputs& m, StrikeType type);

}  // namespace quelm::pricing

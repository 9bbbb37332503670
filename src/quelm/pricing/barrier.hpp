// Continuously monitored single-barrier calls and puts with zero rebate under
// Black-Scholes-Merton dynamics: closed-form knock-ins, knock-outs by in-out parity.
#pragma once

#include <string_view>

#include "quelm/core/error.hpp"
#include "quelm/pricing/option.hpp"
#include "quelm/core/text.hpp"

namespace quelm::pricing {

// Order is fixed: down types have the barrier below the spot, in types come alive at it.
enum class BarrierType : unsigned char { DownIn, DownOut, UpIn, UpOut };
[[nodiscard]] constexpr bool is_down(BarrierType t) { return t == BarrierType::DownIn || t == BarrierType::DownOut; }
[[nodiscard]] constexpr bool is_in(BarrierType t) { return t == BarrierType::DownIn || t == BarrierType::UpIn; }

// Lower-cased, "_" read as "-": "down-in"/"downin"/"di", ...
inline constexpr Choices<BarrierType, 12> kBarrierTypes{
    "barrier_type", Listing::Slashed,
    {{{"down-in", BarrierType::DownIn}, {"downin", BarrierType::DownIn}, {"di", BarrierType::DownIn},
      {"down-out", BarrierType::DownOut}, {"downout", BarrierType::DownOut}, {"do", BarrierType::DownOut},
      {"up-in", BarrierType::UpIn}, {"upin", BarrierType::UpIn}, {"ui", BarrierType::UpIn},
      {"up-out", BarrierType::UpOut}, {"upout", BarrierType::UpOut}, {"uo", BarrierType::UpOut}}},
    true, true};

// Reiner-Rubinstein knock-in value for an unbreached barrier (sigma > 0, t > 0); NaN
// where sigma is too small for the formula (sigma^2 underflowing).
[[nodiscard]] double knock_in_price(const OptionContract& o, const MarketInputs& m, bool down, double barrier);

struct BarrierSettings {
    BarrierType type;
    double level;  // the barrier, in price units
};

[[nodiscard]] Result<double> barrier_price(const OptionContract& o, const MarketInputs& m, const BarrierSettings& b);

}  // namespace quelm::pricing

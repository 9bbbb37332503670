// Government bond markets as they quote their bonds: the calendar, settlement lag, day
// count, coupon frequency, ex-coupon period and roll a DatedBond of that market takes
// (yields stay the bond's street yield, compounded at the coupon frequency on the
// scheduled coupon dates).
#pragma once

#include <cstdint>

#include "quelm/bonds/dated_bond.hpp"
#include "quelm/core/choice.hpp"
#include "quelm/core/error.hpp"

namespace quelm::bonds {

enum class BondMarket : std::uint8_t { Ust, Gilt, Bund, Oat, Jgb };

inline constexpr Choices<BondMarket, 5> kBondMarkets{
    "market",
    Listing::Quoted,
    {{{"ust", BondMarket::Ust},
      {"gilt", BondMarket::Gilt},
      {"bund", BondMarket::Bund},
      {"oat", BondMarket::Oat},
      {"jgb", BondMarket::Jgb}}},
    true,
    true,
};

// The market's terms; issue, maturity, coupon, face and first coupon left at their defaults.
[[nodiscard]] Result<DatedBondTerms> market_terms(BondMarket market);

}  // namespace quelm::bonds

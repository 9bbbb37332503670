// The overnight indices a desk quotes OIS and futures on, and the conventions the market
// quotes them with: the calendar, the day count of the rate, the spot lag from the trade
// date and the payment lag after each period's end (business days).
#pragma once

#include <cstdint>

#include "quelm/core/choice.hpp"
#include "quelm/dates/calendar.hpp"
#include "quelm/dates/day_count.hpp"

namespace quelm::curves {

enum class OvernightIndex : std::uint8_t { Sofr, Estr, Sonia, Tona };

inline constexpr Choices<OvernightIndex, 4> kOvernightIndices{
    "index",
    Listing::Quoted,
    {{{"sofr", OvernightIndex::Sofr},
      {"estr", OvernightIndex::Estr},
      {"sonia", OvernightIndex::Sonia},
      {"tona", OvernightIndex::Tona}}},
    true,
    true};

[[nodiscard]] constexpr const char* overnight_index_name(OvernightIndex i) {
    return kOvernightIndices.aliases[static_cast<std::size_t>(i)].name.data();
}

struct IndexConventions {
    dates::Calendar calendar;
    dates::DayCount day_count;
    std::uint32_t settlement_days = 2;
    std::uint32_t payment_lag = 0;
};

[[nodiscard]] const IndexConventions& conventions_of(OvernightIndex i);

}  // namespace quelm::curves

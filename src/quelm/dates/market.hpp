// The holiday rules of each market (weekends aside): TARGET2, England and Wales, the US
// government bond market (SIFMA full closes), the New York Stock Exchange and Japan.
// Each rule takes a date serial (days since 1970-01-01) and is right for every day of the
// years its market covers (kMarketYears): the rules as they stood each year, with the
// one-off closures of the past.
#pragma once

#include <cstdint>

#include "quelm/core/choice.hpp"
#include "quelm/dates/serial.hpp"

namespace quelm::dates {

enum class Market : std::uint8_t { Weekends = 0, Target, Uk, UsGovernmentBond, UsNyse, Japan };
inline constexpr std::size_t kMarketCount = 6;

// The canonical name of each market, indexed by the enum.
inline constexpr std::string_view kMarketNames[kMarketCount] = {"weekends", "target", "uk",
                                                               "us-government-bond", "us-nyse", "japan"};

inline constexpr Choices<Market, 9> kMarkets{
    "calendar",
    Listing::Quoted,
    {{{"weekends", Market::Weekends},
      {"target", Market::Target},
      {"uk", Market::Uk},
      {"us-government-bond", Market::UsGovernmentBond},
      {"us-nyse", Market::UsNyse},
      {"japan", Market::Japan},
      {"target2", Market::Target},
      {"nyse", Market::UsNyse},
      {"united-kingdom", Market::Uk}}},
    true,
    true,
};

// The years a market's rules answer for, both included: the history they keep starts in
// 1950, and the equinoxes are published to 2150. TARGET, opened in 1999, keeps its first
// rules (1 January, 25 December) for the years before, so euro dates roll back as well.
struct Years {
    std::int32_t first;
    std::int32_t last;
};
inline constexpr Years kMarketYears[kMarketCount] = {{1, 9999},    {1950, 2150}, {1950, 2150},
                                                     {1950, 2150}, {1950, 2150}, {1950, 2150}};

// Whether the market is closed on a weekday s for a holiday (weekends are not asked).
[[nodiscard]] bool target_holiday(Serial s, const Civil& c);
[[nodiscard]] bool uk_holiday(Serial s, const Civil& c);
[[nodiscard]] bool us_government_bond_holiday(Serial s, const Civil& c);
[[nodiscard]] bool us_nyse_holiday(Serial s, const Civil& c);
[[nodiscard]] bool japan_holiday(Serial s, const Civil& c);

[[nodiscard]] inline bool market_holiday(Market m, Serial s, const Civil& c) {
    switch (m) {
        case Market::Weekends: return false;
        case Market::Target: return target_holiday(s, c);
        case Market::Uk: return uk_holiday(s, c);
        case Market::UsGovernmentBond: return us_government_bond_holiday(s, c);
        case Market::UsNyse: return us_nyse_holiday(s, c);
        case Market::Japan: return japan_holiday(s, c);
    }
    return false;
}

}  // namespace quelm::dates

// Business-day conventions: moving a date serial (days since 1970-01-01) that falls on a
// holiday of a calendar to a business day.
#pragma once

#include <cstdint>

#include "quelm/core/choice.hpp"
#include "quelm/core/error.hpp"
#include "quelm/dates/calendar.hpp"

namespace quelm::dates {

enum class Convention : std::uint8_t {
    Following,
    ModifiedFollowing,
    Preceding,
    ModifiedPreceding,
    Unadjusted,
    Nearest,
};

inline constexpr Choices<Convention, 6> kConventions{
    "convention",
    Listing::Quoted,
    {{{"following", Convention::Following},
      {"modified-following", Convention::ModifiedFollowing},
      {"preceding", Convention::Preceding},
      {"modified-preceding", Convention::ModifiedPreceding},
      {"unadjusted", Convention::Unadjusted},
      {"nearest", Convention::Nearest}}},
    true,
    true,
};

// following: the next business day; modified-following: the same unless it leaves the
// month, then the previous one; preceding / modified-preceding mirror them; nearest: the
// closer of the two, the following one on a tie; unadjusted: the date itself.
// Fails when the move leaves 0001-01-01..9999-12-31 or a day it looks at lies outside the
// years the calendar covers.
[[nodiscard]] Result<Serial> adjust(const Calendar& cal, Serial s, Convention c);

}  // namespace quelm::dates

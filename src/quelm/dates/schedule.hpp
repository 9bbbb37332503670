// Schedules: the dates of a stream of periods from an effective to a termination date
// (date serials, days since 1970-01-01), with short or long stubs at either end,
// end-of-month rolls and business-day adjustment.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "quelm/core/choice.hpp"
#include "quelm/core/error.hpp"
#include "quelm/dates/adjust.hpp"
#include "quelm/dates/tenor.hpp"

namespace quelm::dates {

// backward: from the termination date back (a stub at the front); forward: from the
// effective date on (a stub at the end); zero: the two dates only; imm: forward, every
// inner date moved to the third Wednesday of its month (futures dates).
enum class Rule : std::uint8_t { Backward, Forward, Zero, Imm };

inline constexpr Choices<Rule, 5> kRules{
    "rule",
    Listing::Quoted,
    {{{"backward", Rule::Backward},
      {"forward", Rule::Forward},
      {"zero", Rule::Zero},
      {"imm", Rule::Imm},
      {"third-wednesday", Rule::Imm}}},
    true,
    true,
};

struct ScheduleSpec {
    Serial effective;
    Serial termination;
    Tenor tenor;
    Calendar calendar;
    Convention convention = Convention::Unadjusted;
    Convention termination_convention = Convention::Unadjusted;
    Rule rule = Rule::Backward;
    bool end_of_month = false;
    std::optional<Serial> first_date;         // the end of an irregular first period
    std::optional<Serial> next_to_last_date;  // the start of an irregular last period
};

struct Schedule {
    std::vector<Serial> dates;
    // regular[i]: whether the period dates[i]..dates[i+1] is a whole tenor.
    std::vector<bool> regular;
};

[[nodiscard]] Result<Schedule> make_schedule(const ScheduleSpec& spec);

}  // namespace quelm::dates

// Day-count conventions: the days between two date serials (days since 1970-01-01) as a
// convention counts them, and the year fraction it gives. Negative when end < start.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "quelm/core/choice.hpp"
#include "quelm/core/error.hpp"
#include "quelm/dates/calendar.hpp"

namespace quelm::dates {

enum class DayCountKind : std::uint8_t {
    Act360,
    Act365F,
    Act364,
    Act36525,
    Thirty360,     // bond basis, ISDA 2006 4.16(f)
    Thirty360E,    // Eurobond basis, 4.16(g)
    Thirty360EIsda,  // 4.16(h), needs the termination date
    ActActIsda,
    ActActIcma,
    ActActAfb,
    Bus252,
};

inline constexpr Choices<DayCountKind, 20> kDayCounts{
    "day count",
    Listing::Quoted,
    {{{"act/360", DayCountKind::Act360},
      {"act/365f", DayCountKind::Act365F},
      {"act/364", DayCountKind::Act364},
      {"act/365.25", DayCountKind::Act36525},
      {"30/360", DayCountKind::Thirty360},
      {"30e/360", DayCountKind::Thirty360E},
      {"30e/360-isda", DayCountKind::Thirty360EIsda},
      {"act/act-isda", DayCountKind::ActActIsda},
      {"act/act-icma", DayCountKind::ActActIcma},
      {"act/act-afb", DayCountKind::ActActAfb},
      {"bus/252", DayCountKind::Bus252},
      {"actual/360", DayCountKind::Act360},
      {"actual/365f", DayCountKind::Act365F},
      {"act/365", DayCountKind::Act365F},
      {"30/360-bond-basis", DayCountKind::Thirty360},
      {"30/360-bond", DayCountKind::Thirty360},
      {"30e/360-eurobond", DayCountKind::Thirty360E},
      {"act/act", DayCountKind::ActActIsda},
      {"act/act-isma", DayCountKind::ActActIcma},
      {"act/act-isda-2006", DayCountKind::ActActIsda}}},
    true,
    true,
};

// A convention as parsed: "bus/252" counts business days of a calendar, written after a
// colon ("bus/252:target+uk"; plain "bus/252" counts weekdays).
struct DayCount {
    DayCountKind kind = DayCountKind::Act365F;
    Calendar calendar;
    friend bool operator==(const DayCount&, const DayCount&) = default;
};

[[nodiscard]] Result<DayCount> parse_day_count(std::string_view text);
// The text that parses back to the same convention ("act/act-icma", "bus/252:uk").
[[nodiscard]] std::string day_count_name(const DayCount& dc);

// Optional dates of a year fraction: the reference period of act/act-icma (both or none;
// by default the period itself) and the termination date of 30e/360-isda. With
// end_of_month, act/act-icma's notional periods before and after the reference period
// roll as an end-of-month schedule does (from a month's last day to the last days).
struct Reference {
    std::optional<Serial> start;
    std::optional<Serial> end;
    std::optional<Serial> termination;
    bool end_of_month = false;
};

// The days the convention counts: actual days, 30/360 days, or business days.
[[nodiscard]] Result<std::int64_t> day_count(Serial start, Serial end, const DayCount& dc,
                                             std::optional<Serial> termination = std::nullopt);
[[nodiscard]] Result<double> year_fraction(Serial start, Serial end, const DayCount& dc, const Reference& ref = {});
// Act/act-icma inside its reference period: for ref_start <= s < e <= ref_end,
// year_fraction gives years × (e − s) / (ref_end − ref_start) with `years` this value (the
// reference period in whole months, over 12); nullopt for a reference period that does not
// end after it starts or holds no whole month (year_fraction takes other paths there).
[[nodiscard]] std::optional<double> icma_period_years(Serial ref_start, Serial ref_end);

}  // namespace quelm::dates

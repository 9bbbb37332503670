#include "quelm/curves/overnight_index.hpp"

#include <array>

namespace quelm::curves {

namespace {

IndexConventions make(const char* calendar, dates::DayCountKind kind, std::uint32_t settlement_days,
                      std::uint32_t payment_lag) {
    return {dates::Calendar::parse(calendar).value(), dates::DayCount{kind, {}}, settlement_days, payment_lag};
}

}  // namespace

const IndexConventions& conventions_of(OvernightIndex i) {
    // SOFR swaps settle T+2 and pay two days after each period (the ARRC's conventions);
    // €STR swaps T+2, paid one TARGET day after; SONIA swaps start the same day and pay at
    // the period's end; TONA swaps T+2 with a two-day payment lag. The rates accrue on
    // act/360 (SOFR, €STR) or act/365f (SONIA, TONA), as each index is published.
    static const std::array<IndexConventions, 4> table{
        make("us-government-bond", dates::DayCountKind::Act360, 2, 2),
        make("target", dates::DayCountKind::Act360, 2, 1),
        make("uk", dates::DayCountKind::Act365F, 0, 0),
        make("japan", dates::DayCountKind::Act365F, 2, 2),
    };
    return table[static_cast<std::size_t>(i)];
}

}  // namespace quelm::curves

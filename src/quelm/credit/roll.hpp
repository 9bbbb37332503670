// The standard CDS dates: the quarterly roll dates (the 20th of March, June, September and
// December), and the maturity a tenor stands for on a trade date. Dates are serials.
#pragma once

#include "quelm/core/error.hpp"
#include "quelm/dates/serial.hpp"
#include "quelm/dates/tenor.hpp"

namespace quelm::credit {

using dates::Serial;

// The latest roll date on or before d (unadjusted).
[[nodiscard]] Serial previous_roll(Serial d);

// The first trade date of the semi-annual roll (the on-the-run maturities move on 20 March
// and 20 September only): 21 December 2015.
inline constexpr Serial kSemiAnnualRollStart = dates::serial_of(2015, 12, 21);

// The standard maturity of a `tenor` (months or years) CDS traded on `trade_date`: the
// previous roll date, plus the tenor, plus three months; from kSemiAnnualRollStart on,
// a roll date in June or December first steps back to March or September. A zero tenor
// is refused there (no contract then has it).
[[nodiscard]] Result<Serial> standard_maturity(Serial trade_date, dates::Tenor tenor);

}  // namespace quelm::credit

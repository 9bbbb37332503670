// Trades that started before the market's reference date: an OIS or swap whose current
// floating period has fixed reads its past fixings from the market. An overnight-index
// swap on an index reads that index's fixings ("sofr"); any other reads the fixings named
// as its projection curve. The fixings are constants: risk sees the forward part only.
#pragma once

#include <memory>

#include "quelm/book/market.hpp"
#include "quelm/book/trade.hpp"
#include "quelm/core/error.hpp"
#include "quelm/curves/layout.hpp"

namespace quelm::book {

// A trade dated to start before the reference date (before its start date is rolled).
[[nodiscard]] bool starts_before(const curves::Instrument& instrument, dates::Serial reference);

// The name of the fixings a trade on these curves reads.
[[nodiscard]] std::string fixing_index(const curves::Instrument& instrument, const PricedOn& on);

// The trade laid out at the market's date with its fixings in; a missing one is the
// market's error ("no fixing of sofr on 2026-03-02").
[[nodiscard]] Result<std::shared_ptr<const curves::Layout>> seasoned_layout(const curves::Instrument& instrument,
                                                                            const PricedOn& on, const Market& market);

// A floating-rate note laid out with its fixings in (its `index`, else its curve's name).
[[nodiscard]] Result<std::shared_ptr<const curves::Layout>> note_layout(const curves::FloatingRateNote& note,
                                                                        const PricedOn& on, const Market& market);
[[nodiscard]] Result<double> note_value(const curves::FloatingRateNote& note, const PricedOn& on, const Market& market);

// Its value (times the notional) on its curves.
[[nodiscard]] Result<double> seasoned_value(const curves::Instrument& instrument, const PricedOn& on,
                                            const Market& market);

}  // namespace quelm::book

// A book under market scenarios, by full revaluation: each scenario's market rebuilt
// (shift_market) and every position priced on it in one pool task, so no list of
// scenario markets is ever held, and the P&L against the base market comes back per
// scenario. A scenario runs in one slot, its positions in book order, so the bits do not
// depend on the thread count.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "quelm/book/book.hpp"
#include "quelm/book/market_shift.hpp"
#include "quelm/core/cancel.hpp"
#include "quelm/core/error.hpp"

namespace quelm::book {

struct ScenarioPnl {
    std::size_t trades = 0;
    // Row-major, a row per scenario: each trade's scenario value less its base value.
    std::vector<double> by_trade;
    // Per scenario: the scenario's total (added in book order) less the base's total, so a
    // scenario's P&L is the difference of two book_npv totals, bit for bit.
    std::vector<double> total;
};

// The first failing scenario (lowest index) is the error, after "scenario <name>: " when
// the scenarios have names. `currency` as book_npv's: values converted at each
// scenario's own spots.
[[nodiscard]] Result<ScenarioPnl> book_scenarios(const Book& book, const Market& base,
                                                 std::span<const MarketShift> shifts,
                                                 std::span<const std::string> names, Cancel& cancel,
                                                 std::string_view currency = {});

}  // namespace quelm::book

// A book's historical VaR and expected shortfall by full revaluation: each day's change of
// a quote history (historical_changes: absolute for rates, relative for FX) applied to
// today's market, the book repriced (book_scenarios), and the loss statistic taken of the
// P&L with stats' historical rule: the quantile at h = (n - 1)(1 - level), interpolated
// between order statistics, as a positive loss; ES the mean of the P&L at or below it,
// negated. Beside it, the same statistic of the first-order P&L from the book's risk
// report, sum over quotes of risk per bp times the quote's change in bp, so the gap between
// the full and the linear answer shows.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "quelm/book/book.hpp"
#include "quelm/book/market_history.hpp"
#include "quelm/core/cancel.hpp"
#include "quelm/core/error.hpp"

namespace quelm::book {

enum class LossMeasure : std::uint8_t { ValueAtRisk, ExpectedShortfall };

struct HistoricalLoss {
    double value = 0.0;        // the loss statistic of the full revaluation
    double first_order = 0.0;  // the same statistic of the first-order P&L
    std::vector<double> pnl;   // full revaluation, a scenario per window in history order
};

// `values` row-major, a row per date, a column per key (a quote label, a curve, an FX pair),
// each resolved against `market` (an unknown key is an error naming it); `columns` say how
// each changes (market_history.hpp). `level` in (0, 1). The risk report's errors (a trade
// on a curve not built from quotes) are errors here too.
[[nodiscard]] Result<HistoricalLoss> historical_loss(const Book& book, const Market& market,
                                                     std::span<const double> values,
                                                     std::span<const dates::Serial> dates,
                                                     std::span<const HistoryColumn> columns, std::size_t horizon,
                                                     double level, LossMeasure measure, Cancel& cancel,
                                                     std::string_view currency = {});

}  // namespace quelm::book

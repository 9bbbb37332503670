#include "quelm/book/book_var.hpp"

#include <algorithm>
#include <variant>

#include "quelm/book/book_risk.hpp"
#include "quelm/book/book_scenario.hpp"
#include "quelm/book/cds_trade.hpp"
#include "quelm/book/market_shift.hpp"
#include "quelm/core/text.hpp"
#include "quelm/curves/bootstrap.hpp"
#include "quelm/stats/risk.hpp"

namespace quelm::book {

namespace {

Result<double> statistic(std::span<const double> pnl, double level, LossMeasure measure) {
    return measure == LossMeasure::ValueAtRisk ? stats::historical_var(pnl, level) : stats::historical_es(pnl, level);
}

// The risk report's column of each curve's first quote (labels go curve by curve, in the
// market's order), and the report's per-bp total.
struct Linear {
    std::vector<std::size_t> offset;  // per market curve
    std::size_t fx = 0;               // the first FX spot's column
    std::vector<std::size_t> credit;  // per credit curve, its first quote's column
    std::vector<double> total;
};

Result<Linear> linear_of(const Book& book, const Market& market, Cancel& cancel, std::string_view currency) {
    QUELM_TRY(risk, book_risk(book, market, cancel, currency));
    Linear l{{}, 0, {}, std::move(risk.total)};
    std::size_t at = 0;
    for (const auto& c : market.curves().items()) {
        l.offset.push_back(at);
        if (const auto& state = c.value->bootstrap_state()) at += state->spec.instruments.size();
    }
    l.fx = at;
    // A credit curve's columns are its labels, in a row among the quote columns.
    for (const auto& c : market.credit_curves().items()) {
        const auto labels = credit_quote_labels(c.name, *c.value);
        const auto first = labels.empty() ? risk.labels.end()
                                          : std::find(risk.labels.begin(), risk.labels.end(), labels.front());
        l.credit.push_back(static_cast<std::size_t>(first - risk.labels.begin()));
    }
    return l;
}

// The first-order P&L of one scenario: the risk is per bp of the matched quote, a
// future's rate 1 - price/100, while its shift moves the price; FX deltas are per unit of
// the spot.
double first_order_pnl(const Linear& l, const Market& market, const MarketShift& shift) {
    double pnl = 0.0;
    for (const QuoteShift& q : shift.quotes) {
        const auto& quote = market.curves().items()[q.curve].value->bootstrap_state()->spec.instruments[q.quote];
        const double move = std::holds_alternative<curves::Future>(quote) ? -q.amount / 100.0 : q.amount;
        pnl += l.total[l.offset[q.curve] + q.quote] * (move / kBasisPoint);
    }
    for (const FxShift& f : shift.fx) pnl += l.total[l.fx + f.pair] * f.amount;
    for (const QuoteShift& q : shift.credit) pnl += l.total[l.credit[q.curve] + q.quote] * (q.amount / kBasisPoint);
    return pnl;
}

}  // namespace

Result<HistoricalLoss> historical_loss(const Book& book, const Market& market, std::span<const double> values,
                                       std::span<const dates::Serial> dates, std::span<const HistoryColumn> columns,
                                       std::size_t horizon, double level, LossMeasure measure, Cancel& cancel,
                                       std::string_view currency) {
    if (!(level > 0.0 && level < 1.0)) return bad_argument("level must be in (0, 1), got " + format_number(level));
    QUELM_TRY(keys, ShiftKeys::make(market));
    QUELM_TRY(changes, historical_changes(values, dates, columns, horizon));
    const std::size_t cols = columns.size(), rows = cols == 0 ? dates.size() - horizon : changes.size() / cols;
    std::vector<MarketShift> shifts(rows);
    for (std::size_t t = 0; t < rows; ++t)
        for (std::size_t c = 0; c < cols; ++c) QUELM_CHECK(keys.add(columns[c].key, changes[t * cols + c], shifts[t]));
    QUELM_TRY(linear, linear_of(book, market, cancel, currency));
    std::vector<std::string> names;
    names.reserve(rows);
    for (std::size_t t = 0; t < rows; ++t) names.push_back(dates::format_iso(dates[t + horizon]));
    QUELM_TRY(full, book_scenarios(book, market, shifts, names, cancel, currency));
    std::vector<double> linear_pnl(rows);
    for (std::size_t t = 0; t < rows; ++t) linear_pnl[t] = first_order_pnl(linear, market, shifts[t]);
    HistoricalLoss out;
    QUELM_TRY(value, statistic(full.total, level, measure));
    QUELM_TRY(first, statistic(linear_pnl, level, measure));
    out.value = value;
    out.first_order = first;
    out.pnl = std::move(full.total);
    return out;
}

}  // namespace quelm::book

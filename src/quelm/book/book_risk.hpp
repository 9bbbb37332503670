// A book's risk to the market's quotes: for every position, the change in its value per
// basis point (0.0001) of each quote a market curve was bootstrapped from: a rate, a
// future's rate (1 - price/100), a bond quote's clean price. Exact, from the curves'
// implicit-differentiation risk (curves/risk.hpp): positions on one curve go in one batch,
// and each batch's columns (the discount curve's quotes, then the curve's own) are placed
// under the market's labels of those quotes. A market trade (an FX forward, an option) adds
// its curve legs' risk the same way, its delta per unit of each FX spot the market holds
// (columns labelled by the pair, group "fx") and its vega per volatility point of each
// surface slice (columns "<surface> vol <t>y", group the surface), and an option its Greeks.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "quelm/book/book.hpp"
#include "quelm/book/market.hpp"
#include "quelm/core/cancel.hpp"
#include "quelm/core/error.hpp"

namespace quelm::book {

// Per basis point of a quote: the derivative per unit of quote times this.
inline constexpr double kBasisPoint = 1e-4;

struct RiskReport {
    std::vector<std::string> labels;  // market_quote_labels order
    std::vector<std::string> curves;  // the curve of each label
    std::vector<std::string> names;   // the book's trade names
    std::vector<double> by_trade;     // row-major: a row per trade, a column per label
    std::vector<double> total;        // per label: the rows added in book order
    std::vector<std::optional<TradeGreeks>> greeks;  // per trade: an option's Greeks
    friend bool operator==(const RiskReport&, const RiskReport&) = default;
};

// The label of a surface slice's vega column: "spx vol 0.5y" (t to four significant digits).
[[nodiscard]] std::string slice_label(std::string_view surface, double t);

// Errors: a position on a curve not built from quotes (it has no quotes to be risked by),
// or discounted on a curve other than the one its curve was built on, name the trade.
// `currency` as book_npv's: each row converted at the market's spot, and the conversion's
// own FX delta (the trade's value per unit of that spot) in the pair's column.
[[nodiscard]] Result<RiskReport> book_risk(const Book& book, const Market& market, Cancel& cancel,
                                           std::string_view currency = {});

}  // namespace quelm::book

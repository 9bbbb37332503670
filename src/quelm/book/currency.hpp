// The currency of a trade's value, and values reported in one currency. A curve's currency
// is the one its name starts with ("usd-sofr": USD); a curve trade's value is in its
// projection curve's currency, an FX forward's in its pair's quote currency, an option's
// in its curve's, a CDS's in its discount curve's. Converted at the market's spot: a value
// in EUR times EURUSD is in USD.
#pragma once

#include <string>
#include <string_view>

#include "quelm/book/market.hpp"
#include "quelm/book/trade.hpp"
#include "quelm/core/error.hpp"

namespace quelm::book {

// Three letters and a dash lead the name: the currency in upper case; else an error
// naming the curve.
[[nodiscard]] Result<std::string> curve_currency(std::string_view curve);

[[nodiscard]] Result<std::string> trade_currency(const Position& p, const PricedOn& on, const Market& market);

// A currency as given (three letters, any case) in upper case; else an error quoting it.
[[nodiscard]] Result<std::string> parse_currency(std::string_view text);

// How one unit of `from` is worth in `to`: 1 for the same currency, else the market's spot.
// `pair` (optional) receives the spot's index in market.fx_spots().spots() and whether the
// market holds the inverse pair (the rate is then 1 / spot).
struct Conversion {
    double rate = 1.0;
    bool converted = false;
    std::size_t pair = 0;
    bool inverse = false;
};
[[nodiscard]] Result<Conversion> conversion(const Market& market, std::string_view from, std::string_view to);

}  // namespace quelm::book

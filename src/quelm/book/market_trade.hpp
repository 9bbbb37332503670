// Trades of a book that are not curve instruments: an FX forward and a European option on
// a market volatility surface. Each is valued off the market's curves (as discount
// factors), FX spots and surfaces, and lays its curve dependence out as fixed amounts on
// its curves, so the curves' exact risk covers it; its FX and volatility sensitivities come
// in closed form beside.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "quelm/book/market.hpp"
#include "quelm/core/error.hpp"
#include "quelm/curves/layout.hpp"
#include "quelm/dates/serial.hpp"
#include "quelm/pricing/option.hpp"

namespace quelm::book {

// Buys `notional` units of the pair's base currency for `strike` units of its quote
// currency each, at `maturity` (a negative notional sells). Valued in the quote currency:
// notional × (spot × P_base(T) - strike × P_quote(T)), the spot being for the market's
// reference date. Curves named "" default to the market's curve of that currency.
struct FxForward {
    std::string pair;  // six upper-case letters, base then quote
    dates::Serial maturity = 0;
    double strike = 0.0;
    double notional = 1.0;
    std::string domestic_curve, foreign_curve;  // the quote's and the base's
    friend bool operator==(const FxForward&, const FxForward&) = default;
};

// A European option on the market surface `underlying`, with payoff notional × max(±(S_T -
// strike), 0) at `expiry`: forward and volatility from the surface at the expiry's time
// on the curve, discounted on the curve `curve` ("" the market's only curve).
struct EuropeanOption {
    std::string underlying;
    double strike = 0.0;
    dates::Serial expiry = 0;
    OptionType type = OptionType::Call;
    double notional = 1.0;
    std::string curve;
    bool by_fd = false;  // priced by the finite-difference engine, as an AmericanOption is
    friend bool operator==(const EuropeanOption&, const EuropeanOption&) = default;
};

// An FX option: the right to buy (a call) or sell (a put) `notional` units of the pair's
// base currency for `strike` units of its quote currency each at `expiry`. Garman-Kohlhagen
// on the spot and both currencies' curves, its volatility at the strike from the market
// surface `surface` ("" the surface named by the pair, any case); valued in the premium
// currency: the quote currency, or the base (the quote value over the spot).
struct FxOption {
    std::string pair;
    dates::Serial expiry = 0;
    double strike = 0.0;
    OptionType type = OptionType::Call;
    double notional = 1.0;
    bool premium_in_base = false;
    std::string surface, domestic_curve, foreign_curve;
    friend bool operator==(const FxOption&, const FxOption&) = default;
};

[[nodiscard]] Status check(const FxForward& f);
[[nodiscard]] Status check(const FxOption& o);
[[nodiscard]] Status check(const EuropeanOption& o);
[[nodiscard]] std::string describe(const FxForward& f);
[[nodiscard]] std::string describe(const EuropeanOption& o);
[[nodiscard]] std::string describe(const FxOption& o);

// A market curve of one currency ("usd-..." for USD) that discounts on itself: the one
// there is, else an error naming the currency and the curves.
[[nodiscard]] Result<std::string> currency_curve(const Market& market, std::string_view currency,
                                                 std::string_view keyword);

// Sensitivities that are not to curve quotes: per unit of an FX spot the market holds (by
// its index in market.fx_spots().spots()), per volatility point (0.01) of a surface slice
// (by the surface's index in market.surfaces().items() and the slice's).
struct FxDelta {
    std::size_t pair = 0;
    double delta = 0.0;
};
struct SliceVega {
    std::size_t surface = 0, slice = 0;
    double vega = 0.0;
};

// An option's Greeks: delta and gamma in the underlying's spot (its forward when the surface
// has no spot), vega per volatility point, theta per year; all times the notional.
struct TradeGreeks {
    double delta = 0.0, gamma = 0.0, vega = 0.0, theta = 0.0;
    friend bool operator==(const TradeGreeks&, const TradeGreeks&) = default;
};

// A trade's value and what it depends on: fixed amounts on market curves (each a layout of
// flows on curve `curve`, its index in market.curves().items(), whose value on that curve's
// discount factors moves as the trade does), FX deltas and slice vegas.
struct CurveLeg {
    std::size_t curve = 0;
    std::shared_ptr<const curves::Layout> flows;
};
// A sensitivity to a quote of a market object other than a curve, a spot or a surface slice
// (a cube's volatility, a smile's risk reversal, a credit curve's spread): its column by
// label, as quote_columns (quote_columns.hpp) lists the market's columns, and the change in
// value per the column's unit.
struct QuoteRisk {
    std::string label;
    double amount = 0.0;
};
struct MarketTradeValue {
    double value = 0.0;
    std::vector<CurveLeg> legs;
    std::vector<FxDelta> fx;
    std::vector<SliceVega> vega;
    std::vector<QuoteRisk> quotes;
    std::optional<TradeGreeks> greeks;
};

// `with_risk` false: the value alone (legs, deltas, vegas and Greeks left empty).
[[nodiscard]] Result<MarketTradeValue> value_fx_forward(const FxForward& f, const Market& market, bool with_risk);
[[nodiscard]] Result<MarketTradeValue> value_option(const EuropeanOption& o, const Market& market, bool with_risk);
[[nodiscard]] Result<MarketTradeValue> value_fx_option(const FxOption& o, const Market& market, bool with_risk);

}  // namespace quelm::book

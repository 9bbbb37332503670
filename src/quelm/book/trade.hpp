// A position of a book and the market curves it is priced on. A curve trade is an
// instrument, a floating-rate note or a bond held; an FX forward, an option or a CDS is a
// market trade (market_trade.hpp, cds_trade.hpp), priced off curves, spots and surfaces by name,
// and so is a swaption or a cap (rate_option_trades.hpp), off curves and a rate vol. An instrument names its
// curves in its trade terms (curve=, discount_curve=); a bond held names its curve beside
// it. A curve not named is the default for the trade's kind: an overnight-index swap or
// future on an index its currency's curve of that index ("sofr" → "usd-sofr"), anything
// else the market's only curve. The discount curve not named is the one the market built
// the curve on, else the curve itself.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <variant>

#include "quelm/book/fd_option_trades.hpp"
#include "quelm/book/market.hpp"
#include "quelm/book/market_trade.hpp"
#include "quelm/book/rate_option_trades.hpp"
#include "quelm/core/error.hpp"
#include "quelm/credit/cds.hpp"
#include "quelm/curves/risk.hpp"

namespace quelm::book {

struct CurveTrade {
    curves::BookItem item;
    std::string bond_curve;  // a bond held: the curve it is priced off ("" = the default)
    friend bool operator==(const CurveTrade&, const CurveTrade&) = default;
};

using Position = std::variant<CurveTrade, FxForward, EuropeanOption, FxOption, AmericanOption, BarrierOption,
                              credit::Cds, rates::Swaption, rates::CapFloor, rates::BermudanSwaption>;

// A market trade's value (with its risk): any position but a CurveTrade.
[[nodiscard]] Result<MarketTradeValue> value_market_trade(const Position& p, const Market& market, bool with_risk);

// The curves a curve trade reads, found in a market (a market trade finds its own: empty).
struct PricedOn {
    std::string curve;     // the projection curve's name
    std::string discount;  // the discount curve's name; "" when not a market curve (given whole)
    std::shared_ptr<const curves::YieldCurve> projection;
    const curves::YieldCurve* discount_curve = nullptr;  // never null
    // The discount curve is the one the projection curve was built on (or the curve itself,
    // built on no other): the pair the curve's bootstrap differentiates through.
    bool built_pair = false;
};

// "ois", "swap", "bond": how errors name a position's kind.
[[nodiscard]] std::string_view kind_of(const curves::BookItem& item);

// The market curve an overnight index's trades default to ("sofr" → "usd-sofr").
[[nodiscard]] std::string_view index_curve(curves::OvernightIndex index);

// The curves of a position; an unknown name is the market's error (it lists the names), a
// trade with no default asks for its curve.
[[nodiscard]] Result<PricedOn> priced_on(const CurveTrade& p, const Market& market);

// The market's name of a curve it holds (by identity), or "".
[[nodiscard]] std::string_view name_in(const Market& market, const curves::YieldCurve* curve);

}  // namespace quelm::book

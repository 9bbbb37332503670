// Swaptions and caps (floors) as trades of a book: priced off market curves and a market
// rate vol by the names in their terms (rates::Swaption, rates::CapFloor), with the value of
// Swaption.price and CapFloor.price on the same curves and vol. Their curve dependence is
// laid out as fixed amounts on the discount factors they read (the projection curve's for
// the forwards, the discount curve's for payments), so the curves' exact risk covers them;
// their vega comes per quote of the rate vol (QuoteRisk, per vol point): its one vol, each
// time of a term structure, or each quote of the cube nodes the trade's vol reads. The vol
// is held fixed under curve moves (rate_vols.hpp).
#pragma once

#include "quelm/book/market.hpp"
#include "quelm/book/market_trade.hpp"
#include "quelm/core/error.hpp"
#include "quelm/rates/bermudan.hpp"
#include "quelm/rates/cap_floor.hpp"
#include "quelm/rates/swaption.hpp"

namespace quelm::book {

[[nodiscard]] Result<MarketTradeValue> value_swaption(const rates::Swaption& s, const Market& market, bool with_risk);
[[nodiscard]] Result<MarketTradeValue> value_cap_floor(const rates::CapFloor& c, const Market& market,
                                                       bool with_risk);

// A Bermudan swaption on a market Hull-White model (its a and sigma, on the trade's one curve,
// which projects and discounts), by finite differences on kBermudanSteps steps: the value's
// exact derivative in each discount factor the grid reads as a leg, and the change per basis
// point of sigma (central, on the same grid) as its vega.
inline constexpr std::size_t kBermudanSteps = 200;
[[nodiscard]] Result<MarketTradeValue> value_bermudan(const rates::BermudanSwaption& b, const Market& market,
                                                      bool with_risk);

// The projection curve's name a swaption or cap is priced off (as named, else the market's
// only curve): the currency it reports in.
[[nodiscard]] Result<std::string> rate_option_curve(const std::string& curve, const Market& market,
                                                    const std::string& what);

}  // namespace quelm::book

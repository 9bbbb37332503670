// A credit default swap in a book: priced on a market credit curve and a market yield
// curve (named in its terms, else the market's only one of each) as Cds.npv prices it,
// at the market's date. A contract traded before that date is valued as the same contract
// on the market's date (its protection from the day after, the coupon of the period under
// way in full, the accrued rebated): what the holder of a seasoned trade still has.
//
// Its risk is exact (credit/cds_slopes.hpp): a CS01 per +1bp of each quote its credit curve
// was bootstrapped from (QuoteRisk columns labelled "<credit curve> <tenor>", as quoted, or
// the maturity date), and its discount factors as a leg on the discount curve, with the
// hazards rebuilt on the moved curve, so the curve's chain to its quotes gives the IR01.
#pragma once

#include <string>
#include <vector>

#include "quelm/book/market.hpp"
#include "quelm/book/market_trade.hpp"
#include "quelm/core/error.hpp"
#include "quelm/credit/cds.hpp"
#include "quelm/credit/credit_curve.hpp"

namespace quelm::book {

// The labels of a credit curve's quotes in maturity order; none for a curve not bootstrapped.
[[nodiscard]] std::vector<std::string> credit_quote_labels(const std::string& name, const credit::CreditCurve& curve);

// The names of the curves a CDS reads in the market: its own, else the only one of each.
struct CdsCurves {
    std::string credit, discount;
};
[[nodiscard]] Result<CdsCurves> cds_curves(const credit::Cds& cds, const Market& market);

[[nodiscard]] Result<MarketTradeValue> value_cds(const credit::Cds& cds, const Market& market, bool with_risk);

}  // namespace quelm::book

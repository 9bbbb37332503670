// The label a market quote goes by in risk reports, scenarios and quote histories: the
// curve's name and the quote's point, "usd-sofr 5Y". The point is the quote's tenor as
// written ("3M", "10Y"); a forward start adds its start before it ("1Yx5Y", a FRA
// "3Mx6M"); a date stands in ISO form where a trade gives one (a maturity "2031-06-16", a
// start "2027-03-17x5Y"); a future is "fut" and its contract start ("fut 2027-03-17"), a
// bond quote "bond" and its maturity ("bond 2034-05-15").
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "quelm/book/market.hpp"
#include "quelm/core/error.hpp"
#include "quelm/curves/instrument.hpp"

namespace quelm::book {

// The point of an instrument on its curve, as above ("5Y", "fut 2027-03-17").
[[nodiscard]] std::string quote_point(const curves::Instrument& quote);

// "<curve> <point>".
[[nodiscard]] std::string quote_label(std::string_view curve, const curves::Instrument& quote);

// The labels of a curve's quotes in order; two quotes of one curve at one point would make
// their labels ambiguous, an error naming the label.
[[nodiscard]] Result<std::vector<std::string>> quote_labels(std::string_view curve,
                                                            const std::vector<curves::Instrument>& quotes);

// The labels of every quote a market's curves were bootstrapped from: curve by curve in
// name order, each curve's quotes in the order given. A curve given whole (not built from
// quotes) has none.
[[nodiscard]] Result<std::vector<std::string>> market_quote_labels(const Market& market);

}  // namespace quelm::book

// The risk report's columns for the quotes of market objects other than curves, spots and
// surfaces: each kind of object the market holds (a swaption cube, an FX smile, a credit
// curve) lists its quotes' labels here, under a group (the object's name), in the order the
// report shows them. A market trade reports its sensitivities to them by label (QuoteRisk).
#pragma once

#include <string>
#include <vector>

#include "quelm/book/market.hpp"

namespace quelm::book {

struct QuoteColumn {
    std::string label;  // unique among the report's labels
    std::string group;  // the object it belongs to
};

[[nodiscard]] std::vector<QuoteColumn> quote_columns(const Market& market);

}  // namespace quelm::book

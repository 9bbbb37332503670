#include "quelm/book/quote_columns.hpp"

#include "quelm/book/cds_trade.hpp"
#include "quelm/book/rate_vols.hpp"

namespace quelm::book {

// Each kind of quoted object appends its columns here, one kind after another.
std::vector<QuoteColumn> quote_columns(const Market& market) {
    std::vector<QuoteColumn> columns;
    for (const auto& v : market.fx_vols().items())
        for (auto& c : fx_quote_columns(v.name, *v.value)) columns.push_back({std::move(c.label), v.name});
    for (const auto& c : market.credit_curves().items())
        for (auto& label : credit_quote_labels(c.name, *c.value)) columns.push_back({std::move(label), c.name});
    for (const auto& v : market.rate_vols().items())
        for (auto& label : rate_vol_labels(v.name, *v.value)) columns.push_back({std::move(label), v.name});
    return columns;
}

}  // namespace quelm::book

#include "quelm/book/quote_columns.hpp"

namespace quelm::book {

// Each kind of quoted object appends its columns here, one kind after another.
std::vector<QuoteColumn> quote_columns(const Market& market) {
    std::vector<QuoteColumn> columns;
    for (const auto& v : market.fx_vols().items())
        for (auto& c : fx_quote_columns(v.name, *v.value)) columns.push_back({std::move(c.label), v.name});
    return columns;
}

}  // namespace quelm::book

#include "quelm/book/quote_columns.hpp"

namespace quelm::book {

// Each kind of quoted object appends its columns here, one kind after another.
std::vector<QuoteColumn> quote_columns(const Market& market) {
    std::vector<QuoteColumn> columns;
    (void)market;
    return columns;
}

}  // namespace quelm::book

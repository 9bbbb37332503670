// A book: positions by name, priced on a named market. Immutable; its positions are
// shared by every copy. Values run on the worker pool, one position per slot, and add up
// in book order afterwards, so the total has the same bits on any number of threads.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "quelm/book/market.hpp"
#include "quelm/book/trade.hpp"
#include "quelm/core/cancel.hpp"
#include "quelm/core/error.hpp"

namespace quelm::book {

class Book {
public:
    // `names` empty: the positions' indices ("0", "1", ...). Otherwise one per position,
    // distinct and not empty.
    [[nodiscard]] static Result<Book> make(std::vector<Position> positions, std::vector<std::string> names);

    [[nodiscard]] const std::vector<Position>& positions() const { return *positions_; }
    [[nodiscard]] const std::vector<std::string>& names() const { return *names_; }
    [[nodiscard]] std::size_t size() const { return positions_->size(); }

    friend bool operator==(const Book& a, const Book& b);

private:
    std::shared_ptr<const std::vector<Position>> positions_;
    std::shared_ptr<const std::vector<std::string>> names_;
};

// The curves of every position, in book order; an error names the position
// ("trade 3: no curve ...").
[[nodiscard]] Result<std::vector<PricedOn>> book_curves(const Book& book, const Market& market);

struct BookValue {
    std::vector<double> by_trade;  // in book order
    double total = 0.0;            // their sum, added in book order
};

// An instrument's value is its npv on its curves (times its notional); a bond held, its
// present value per its face. The first failing position (in book order) is the error.
// `currency` (upper case, or empty: each trade in its own) reports every value in that
// currency at the market's spots (currency.hpp).
[[nodiscard]] Result<BookValue> book_npv(const Book& book, const Market& market, Cancel& cancel,
                                         std::string_view currency = {});

// One position's value, as book_npv values it, for loops that run their own pool tasks.
[[nodiscard]] Result<double> trade_value(const Position& p, const PricedOn& on, const Market& market,
                                         std::string_view currency = {});

}  // namespace quelm::book

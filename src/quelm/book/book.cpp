#include "quelm/book/book.hpp"

#include <algorithm>
#include <optional>

#include "quelm/book/currency.hpp"
#include "quelm/book/seasoned.hpp"
#include "quelm/core/parallel.hpp"
#include "quelm/curves/layout.hpp"
#include "quelm/curves/pricing.hpp"
#include "quelm/curves/sensitivity.hpp"

namespace quelm::book {

Result<Book> Book::make(std::vector<Position> positions, std::vector<std::string> names) {
    if (names.empty()) {
        names.reserve(positions.size());
        for (std::size_t i = 0; i < positions.size(); ++i) names.push_back(std::to_string(i));
    } else if (names.size() != positions.size()) {
        return bad_argument("book: " + std::to_string(names.size()) + " names for " + std::to_string(positions.size()) +
                       " trades");
    }
    std::vector<std::string> sorted = names;
    std::sort(sorted.begin(), sorted.end());
    if (!sorted.empty() && sorted.front().empty()) return bad_argument("book: trade names must not be empty");
    if (const auto twin = std::adjacent_find(sorted.begin(), sorted.end()); twin != sorted.end())
        return bad_argument("book: trade name " + *twin + " is given twice");
    Book b;
    b.positions_ = std::make_shared<const std::vector<Position>>(std::move(positions));
    b.names_ = std::make_shared<const std::vector<std::string>>(std::move(names));
    return b;
}

bool operator==(const Book& a, const Book& b) {
    if (a.names() != b.names()) return false;
    const auto& x = a.positions();
    const auto& y = b.positions();
    return x == y;
}

Result<std::vector<PricedOn>> book_curves(const Book& book, const Market& market) {
    std::vector<PricedOn> out;
    out.reserve(book.size());
    for (std::size_t i = 0; i < book.size(); ++i) {
        const auto* curve_trade = std::get_if<CurveTrade>(&book.positions()[i]);
        if (curve_trade == nullptr) {
            out.emplace_back();
            continue;
        }
        auto on = priced_on(*curve_trade, market);
        if (!on) return std::unexpected(Error{on.error().kind, "trade " + book.names()[i] + ": " + on.error().text});
        out.push_back(std::move(*on));
    }
    return out;
}

namespace {

Result<double> value_of(const Position& position, const PricedOn& on, const Market& market) {
    if (!std::holds_alternative<CurveTrade>(position)) {
        QUELM_TRY(v, value_market_trade(position, market, false));
        return v.value;
    }
    const CurveTrade& p = std::get<CurveTrade>(position);
    const dates::Serial reference = market.reference_date();
    if (const auto* i = std::get_if<curves::Instrument>(&p.item)) {
        if (starts_before(*i, reference)) return seasoned_value(*i, on, market);
        return curves::measure(*i, *on.projection, on.discount_curve, curves::Measure::Value);
    }
    if (const auto* n = std::get_if<curves::FloatingRateNote>(&p.item)) return note_value(*n, on, market);
    QUELM_TRY(layout, curves::lay_out_held(std::get<bonds::DatedBond>(p.item), reference));
    QUELM_TRY(reading, curves::read_curves(layout, {on.projection.get(), on.discount_curve}));
    return curves::position_value(layout, reading.dp, reading.dd);
}

}  // namespace

Result<double> trade_value(const Position& p, const PricedOn& on, const Market& market, std::string_view currency) {
    QUELM_TRY(v, value_of(p, on, market));
    if (currency.empty()) return v;
    QUELM_TRY(from, trade_currency(p, on, market));
    QUELM_TRY(c, conversion(market, from, currency));
    return v * c.rate;  // exactly v in its own currency
}

Result<BookValue> book_npv(const Book& book, const Market& market, Cancel& cancel, std::string_view currency) {
    QUELM_TRY(on, book_curves(book, market));
    BookValue v;
    v.by_trade.assign(book.size(), 0.0);
    std::vector<std::optional<Error>> failures(book.size());
    const bool done = parallel_for(
        book.size(),
        [&](std::size_t begin, std::size_t end) {
            for (std::size_t i = begin; i < end; ++i) {
                if (chunk_stopped(64)) return;
                auto x = trade_value(book.positions()[i], on[i], market, currency);
                if (!x) {
                    failures[i] = Error{x.error().kind, "trade " + book.names()[i] + ": " + x.error().text};
                    return;
                }
                v.by_trade[i] = *x;
            }
        },
        cancel);
    if (!done) return cancelled();
    for (const auto& f : failures)
        if (f) return std::unexpected(*f);
    // In book order, after the pool: the bits do not depend on how the trades were shared out.
    for (const double x : v.by_trade) v.total += x;
    return v;
}

}  // namespace quelm::book

#include "quelm/book/book_scenario.hpp"


#include "quelm/book/scenario_each.hpp"

namespace quelm::book {

namespace {

// One scenario's P&L row and total, on the calling thread.
Result<double> revalue(const Book& book, const Market& base, const BookValue& at_base, const MarketShift& shift,
                       Cancel& cancel, double* row, std::string_view currency) {
    QUELM_TRY(market, shift_market(base, shift, cancel));
    QUELM_TRY(on, book_curves(book, market));
    double total = 0.0;
    for (std::size_t j = 0; j < book.size(); ++j) {
        auto v = trade_value(book.positions()[j], on[j], market, currency);
        if (!v) return std::unexpected(Error{v.error().kind, "trade " + book.names()[j] + ": " + v.error().text});
        total += *v;  // in book order, as book_npv adds
        row[j] = *v - at_base.by_trade[j];
    }
    return total - at_base.total;
}

}  // namespace

Result<ScenarioPnl> book_scenarios(const Book& book, const Market& base, std::span<const MarketShift> shifts,
                                   std::span<const std::string> names, Cancel& cancel, std::string_view currency) {
    QUELM_TRY(at_base, book_npv(book, base, cancel, currency));
    const std::size_t n = book.size();
    ScenarioPnl out;
    out.trades = n;
    out.by_trade.assign(shifts.size() * n, 0.0);
    out.total.assign(shifts.size(), 0.0);
    QUELM_CHECK(for_each_scenario(
        shifts.size(),
        [&](std::size_t i, Cancel& chunk) -> Status {
            QUELM_TRY(total, revalue(book, base, at_base, shifts[i], chunk, out.by_trade.data() + i * n, currency));
            out.total[i] = total;
            return {};
        },
        [&](std::size_t i) { return i < names.size() ? "scenario " + names[i] + ": " : std::string(); }, cancel));
    return out;
}

}  // namespace quelm::book

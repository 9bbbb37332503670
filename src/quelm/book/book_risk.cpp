#include "quelm/book/book_risk.hpp"

#include <cstdio>
#include <unordered_map>

#include "quelm/book/currency.hpp"
#include "quelm/book/quote_columns.hpp"
#include "quelm/book/quote_label.hpp"
#include "quelm/core/parallel.hpp"
#include "quelm/book/seasoned.hpp"
#include "quelm/curves/bootstrap.hpp"
#include "quelm/curves/risk.hpp"

namespace quelm::book {
namespace {

// Where each market curve's quotes start among the labels (npos: not bootstrapped).
constexpr std::size_t npos = static_cast<std::size_t>(-1);

}  // namespace

std::string slice_label(std::string_view surface, double t) {
    char text[32];
    std::snprintf(text, sizeof text, "%.4g", t);
    return std::string(surface) + " vol " + text + "y";
}

namespace {

std::vector<std::size_t> label_offsets(const Market& market) {
    std::vector<std::size_t> at;
    std::size_t n = 0;
    for (const auto& c : market.curves().items()) {
        const auto& state = c.value->bootstrap_state();
        at.push_back(state ? n : npos);
        if (state) n += state->spec.instruments.size();
    }
    return at;
}

std::size_t index_in(const Market& market, const curves::YieldCurve* curve) {
    const auto items = market.curves().items();
    for (std::size_t i = 0; i < items.size(); ++i)
        if (items[i].value.get() == curve) return i;
    return npos;
}

// The labels' column of each of a curve's risk columns: the chain of curves it was built
// on, deepest first, as curves::bucketed_risk lays them out.
Result<std::vector<std::size_t>> columns_of(const Market& market, const std::string& name,
                                            const curves::YieldCurve* curve, const std::vector<std::size_t>& offsets) {
    std::vector<const curves::YieldCurve*> chain;
    for (const curves::YieldCurve* c = curve; c != nullptr && c->bootstrap_state();
         c = c->bootstrap_state()->spec.discount.get())
        chain.push_back(c);
    std::vector<std::size_t> cols;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        const std::size_t k = index_in(market, *it);
        if (k == npos)
            return bad_argument("curve " + name +
                           " is built on a curve from outside the market: its quotes have no labels to be risked by");
        const std::size_t n = (*it)->bootstrap_state()->spec.instruments.size();
        for (std::size_t j = 0; j < n; ++j) cols.push_back(offsets[k] + j);
    }
    return cols;
}

Error named(const std::string& trade, const Error& e) { return Error{e.kind, "trade " + trade + ": " + e.text}; }

Error not_built(const std::string& curve) {
    return Error{Kind::Argument, "curve " + curve + " was not built from quotes: it has no quotes to be risked by"};
}

// A market trade's legs, row by row, on one curve.
struct Legs {
    std::vector<std::size_t> rows;
    std::vector<std::shared_ptr<const curves::Layout>> flows;
};

// Each row in `currency`: scaled by the conversion's rate X, and the value V in the trade's
// own currency put on the spot's column: d(V X)/dS = V for the pair itself (X = S), -V X²
// for its inverse (X = 1 / S).
Status convert(const Book& book, const Market& market, const std::vector<PricedOn>& on, std::string_view currency,
               std::size_t fx_at, RiskReport& r, Cancel& cancel) {
    QUELM_TRY(values, book_npv(book, market, cancel));
    const std::size_t m = r.labels.size();
    for (std::size_t i = 0; i < book.size(); ++i) {
        auto from = trade_currency(book.positions()[i], on[i], market);
        if (!from) return std::unexpected(named(book.names()[i], from.error()));
        auto c = conversion(market, *from, currency);
        if (!c) return std::unexpected(named(book.names()[i], c.error()));
        if (!c->converted) continue;
        double* row = &r.by_trade[i * m];
        for (std::size_t j = 0; j < m; ++j) row[j] *= c->rate;
        const double v = values.by_trade[i];
        row[fx_at + c->pair] += c->inverse ? -v * c->rate * c->rate : v;
        if (auto& g = r.greeks[i]) {
            g->delta *= c->rate;
            g->gamma *= c->rate;
            g->vega *= c->rate;
            g->theta *= c->rate;
        }
    }
    return {};
}

}  // namespace

Result<RiskReport> book_risk(const Book& book, const Market& market, Cancel& cancel, std::string_view currency) {
    QUELM_TRY(labels, market_quote_labels(market));
    QUELM_TRY(on, book_curves(book, market));
    RiskReport r;
    r.labels = std::move(labels);
    for (const auto& c : market.curves().items())
        if (const auto& state = c.value->bootstrap_state())
            r.curves.insert(r.curves.end(), state->spec.instruments.size(), c.name);
    // Then the FX spots, then the surfaces' slices.
    const std::size_t fx_at = r.labels.size();
    for (const auto& spot : market.fx_spots().spots()) {
        r.labels.push_back(spot.pair);
        r.curves.emplace_back("fx");
    }
    std::vector<std::size_t> slice_at;
    for (const auto& surface : market.surfaces().items()) {
        slice_at.push_back(r.labels.size());
        for (const auto& slice : surface.value->slices()) {
            r.labels.push_back(slice_label(surface.name, slice.t));
            r.curves.push_back(surface.name);
        }
    }
    // Then the other quoted objects' columns, found by label.
    std::unordered_map<std::string, std::size_t> quote_at;
    for (auto& column : quote_columns(market)) {
        quote_at.emplace(column.label, r.labels.size());
        r.labels.push_back(std::move(column.label));
        r.curves.push_back(std::move(column.group));
    }
    const std::size_t n = book.size(), m = r.labels.size();
    r.names = book.names();
    r.by_trade.assign(n * m, 0.0);
    r.total.assign(m, 0.0);
    r.greeks.assign(n, std::nullopt);
    // One batch per curve, in the order curves are first met; the discount curve of each
    // position is its curve's own (checked), so the curve alone keys the batch.
    const auto items = market.curves().items();
    std::vector<std::vector<std::size_t>> batches(items.size());
    std::vector<Legs> legs(items.size());
    std::vector<std::size_t> market_rows;
    for (std::size_t i = 0; i < n; ++i) {
        if (!std::holds_alternative<CurveTrade>(book.positions()[i])) {
            market_rows.push_back(i);
            continue;
        }
        if (!on[i].projection->bootstrap_state())
            return std::unexpected(named(book.names()[i], not_built(on[i].curve)));
        if (!on[i].built_pair) {
            const auto& own = on[i].projection->bootstrap_state()->spec.discount;
            const std::string_view own_name = own ? name_in(market, own.get()) : std::string_view();
            const std::string built = !own ? std::string("on itself")
                                           : own_name.empty() ? std::string("on a curve outside the market")
                                                              : "on " + std::string(own_name);
            const std::string& asked = on[i].discount;
            return std::unexpected(named(book.names()[i], Error{Kind::Argument,
                                                                "curve " + on[i].curve + " was built discounting " +
                                                                    built + "; its risk needs that discount curve, not " +
                                                                    std::string(asked)}));
        }
        batches[index_in(market, on[i].projection.get())].push_back(i);
    }
    // Market trades valued with their risk on the pool, each into its own slot; placed in
    // book order after, so nothing depends on the threads.
    std::vector<std::optional<Result<MarketTradeValue>>> valued(market_rows.size());
    const bool done = parallel_for(
        market_rows.size(),
        [&](std::size_t begin, std::size_t end) {
            for (std::size_t k = begin; k < end; ++k) {
                if (chunk_stopped(64)) return;
                const Position& position = book.positions()[market_rows[k]];
                valued[k] = value_market_trade(position, market, true);
            }
        },
        cancel);
    if (!done) return cancelled();
    for (std::size_t k = 0; k < market_rows.size(); ++k) {
        const std::size_t i = market_rows[k];
        auto& v = *valued[k];
        if (!v) return std::unexpected(named(book.names()[i], v.error()));
        for (auto& leg : v->legs) {
            if (!items[leg.curve].value->bootstrap_state())
                return std::unexpected(named(book.names()[i], not_built(items[leg.curve].name)));
            legs[leg.curve].rows.push_back(i);
            legs[leg.curve].flows.push_back(std::move(leg.flows));
        }
        for (const FxDelta& d : v->fx) r.by_trade[i * m + fx_at + d.pair] += d.delta;
        for (const SliceVega& g : v->vega) r.by_trade[i * m + slice_at[g.surface] + g.slice] += g.vega;
        for (const QuoteRisk& q : v->quotes) {
            const auto at = quote_at.find(q.label);
            if (at == quote_at.end())
                return std::unexpected(named(book.names()[i], Error{Kind::Argument, "the market has no risk column " + q.label}));
            r.by_trade[i * m + at->second] += q.amount;
        }
        r.greeks[i] = v->greeks;
    }
    const auto offsets = label_offsets(market);
    for (std::size_t k = 0; k < items.size(); ++k) {
        const auto& rows = batches[k];
        if (rows.empty()) continue;
        QUELM_TRY(cols, columns_of(market, on[rows[0]].curve, on[rows[0]].projection.get(), offsets));
        std::vector<curves::BookItem> batch;
        batch.reserve(rows.size());
        std::vector<std::shared_ptr<const curves::Layout>> laid;
        for (const std::size_t i : rows) {
            batch.push_back(std::get<CurveTrade>(book.positions()[i]).item);
            const auto* instrument = std::get_if<curves::Instrument>(&batch.back());
            const auto* note = std::get_if<curves::FloatingRateNote>(&batch.back());
            if (note == nullptr && (instrument == nullptr || !starts_before(*instrument, market.reference_date())))
                continue;
            auto layout = note ? note_layout(*note, on[i], market) : seasoned_layout(*instrument, on[i], market);
            if (!layout) return std::unexpected(named(book.names()[i], layout.error()));
            laid.resize(batch.size());
            laid.back() = std::move(*layout);
        }
        laid.resize(laid.empty() ? 0 : batch.size());
        auto table = curves::bucketed_risk(*items[k].value, batch, cancel, laid);
        if (!table) {
            // Its message names the position by its terms; the book's name says which one.
            return std::unexpected(Error{table.error().kind, "curve " + items[k].name + ": " + table.error().text});
        }
        for (std::size_t b = 0; b < rows.size(); ++b) {
            const double* from = &table->values[b * table->cols];
            double* to = &r.by_trade[rows[b] * m];
            for (std::size_t j = 0; j < table->cols; ++j) to[cols[j]] = from[j] * kBasisPoint;
        }
    }
    // Market trades' legs, curve by curve: each leg's flows discount on that curve.
    for (std::size_t k = 0; k < items.size(); ++k) {
        const Legs& l = legs[k];
        if (l.rows.empty()) continue;
        QUELM_TRY(cols, columns_of(market, items[k].name, items[k].value.get(), offsets));
        std::vector<std::string> leg_names;
        for (const std::size_t i : l.rows) leg_names.push_back("trade " + book.names()[i]);
        QUELM_TRY(table, curves::bucketed_risk(*items[k].value, l.flows, leg_names, cancel));
        for (std::size_t b = 0; b < l.rows.size(); ++b) {
            const double* from = &table.values[b * table.cols];
            double* to = &r.by_trade[l.rows[b] * m];
            for (std::size_t j = 0; j < table.cols; ++j) to[cols[j]] += from[j] * kBasisPoint;
        }
    }
    if (!currency.empty()) QUELM_CHECK(convert(book, market, on, currency, fx_at, r, cancel));
    // Trade by trade in book order, whatever batch a trade was in.
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j < m; ++j) r.total[j] += r.by_trade[i * m + j];
    return r;
}

}  // namespace quelm::book

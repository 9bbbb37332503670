#include "quelm/curves/risk.hpp"

#include <algorithm>
#include <optional>

#include "quelm/curves/bootstrap.hpp"
#include "quelm/curves/curve_gradient.hpp"
#include "quelm/curves/layout.hpp"
#include "quelm/curves/pricing.hpp"
#include "quelm/curves/sensitivity.hpp"
#include "quelm/core/parallel.hpp"
#include "quelm/core/text.hpp"
#include "quelm/dates/serial.hpp"

namespace quelm::curves {

namespace {

// The bootstrapped curves of a chain: the curve, then the curve it discounts on, and so on.
struct Level {
    const YieldCurve* curve;
    const BootstrapState* state;
    std::size_t column;  // its first column in the table
};

std::vector<Level> chain_of(const YieldCurve& curve) {
    std::vector<Level> levels;
    for (const YieldCurve* c = &curve; c != nullptr && c->bootstrap_state();) {
        const BootstrapState* s = c->bootstrap_state().get();
        levels.push_back({c, s, 0});
        c = s->spec.discount.get();
    }
    // Columns: the deepest curve's quotes first.
    std::size_t col = 0;
    for (auto it = levels.rbegin(); it != levels.rend(); ++it) {
        it->column = col;
        col += it->state->spec.instruments.size();
    }
    return levels;
}

std::string name_of(const BookItem& item) {
    if (const auto* i = std::get_if<Instrument>(&item)) return describe(*i);
    if (const auto* n = std::get_if<FloatingRateNote>(&item)) return describe(*n);
    const auto& t = std::get<bonds::DatedBond>(item).terms();
    return "<DatedBond " + format_number(t.coupon_rate) + " maturing " + dates::format_iso(t.maturity) + ">";
}

}  // namespace

std::vector<const Instrument*> risk_quotes(const YieldCurve& curve) {
    std::vector<const Instrument*> out;
    const std::vector<Level> levels = chain_of(curve);
    for (auto it = levels.rbegin(); it != levels.rend(); ++it)
        for (const Instrument& i : it->state->spec.instruments) out.push_back(&i);
    return out;
}

namespace {

// A row's layout and the weight its value carries (a notional, a face).
struct RowLayout {
    std::shared_ptr<const Layout> layout;
    double weight = 1.0;
};

// The table for `rows` positions, row r laid out by resolve(r) and named by name(r) in
// errors; one row per position, each independent of the others: rows run in parallel and
// each is computed the same way on any thread, so the table does not depend on the pool size.
template <class Resolve, class Name>
Result<RiskTable> risk_rows(const YieldCurve& curve, std::size_t rows, Resolve resolve, Name name, Cancel& cancel) {
    const std::vector<Level> levels = chain_of(curve);
    if (levels.empty()) return invalid("yield curve: risk needs a curve built by bootstrap");
    const CurvePair pair = pricing_curves(curve, nullptr);
    const bool one_curve = pair.discount == pair.projection;
    const bool discount_level = levels.size() > 1;  // the discount curve is bootstrapped too
    std::vector<CurveGradient> grads;
    for (const Level& l : levels) {
        QUELM_TRY(g, CurveGradient::create(*l.curve));
        grads.push_back(std::move(g));
    }
    RiskTable table;
    table.rows = rows;
    for (const Level& l : levels) table.cols += l.state->spec.instruments.size();
    table.values.assign(table.rows * table.cols, 0.0);
    const auto one_row = [&](std::size_t row, std::vector<std::vector<double>>& node,
                             std::vector<std::vector<double>>& unknown) -> Status {
        const auto named = [&](const Error& e) { return std::unexpected(Error{e.kind, name(row) + ": " + e.text}); };
        Result<RowLayout> resolved = resolve(row);
        if (!resolved) return std::unexpected(resolved.error());
        const Layout& layout = *resolved->layout;
        auto reading = read_curves(layout, pair);
        if (!reading) return named(reading.error());
        std::vector<double> gp(reading->dp.size(), 0.0), gd(reading->dd.size(), 0.0);
        (void)position_value(layout, reading->dp, reading->dd, resolved->weight, gp, gd);
        for (auto& v : node) std::fill(v.begin(), v.end(), 0.0);
        Status s = chain_to_nodes(grads[0], reading->tp, reading->dp, gp, node[0]);
        if (s) {
            if (one_curve) {
                s = chain_to_nodes(grads[0], reading->td, reading->dd, gd, node[0]);
            } else if (discount_level) {
                s = chain_to_nodes(grads[1], reading->td, reading->dd, gd, node[1]);
            }
        }
        if (!s) return named(s.error());
        for (std::size_t l = 0; l < levels.size(); ++l) nodes_to_unknowns(*levels[l].curve, node[l], unknown[l]);
        // λ = J^-T g, level by level: a level's λ is its quotes' sensitivities and moves the
        // next level's gradient by -cross^T λ.
        double* out = &table.values[row * table.cols];
        for (std::size_t l = 0; l < levels.size(); ++l) {
            const BootstrapState& st = *levels[l].state;
            std::vector<double>& lambda = unknown[l];
            if (Status solved = st.jacobian.solve_transposed(lambda); !solved) return named(solved.error());
            for (std::size_t k = 0; k < lambda.size(); ++k) out[levels[l].column + st.order[k]] = lambda[k];
            if (l + 1 < levels.size() && st.n_cross > 0) {
                std::vector<double>& next = unknown[l + 1];
                for (std::size_t k = 0; k < lambda.size(); ++k)
                    for (std::size_t j = 0; j < st.n_cross; ++j) next[j] -= st.cross[k * st.n_cross + j] * lambda[k];
            }
        }
        return {};
    };
    // The first failing row (lowest index) is the one reported, whatever the threads did.
    std::vector<std::optional<Error>> failures(rows);
    const bool done = parallel_for(
        rows,
        [&](std::size_t begin, std::size_t end) {
            std::vector<std::vector<double>> node(levels.size()), unknown(levels.size());
            for (std::size_t l = 0; l < levels.size(); ++l) {
                node[l].resize(levels[l].curve->values().size());
                unknown[l].resize(levels[l].state->pillars.size());
            }
            for (std::size_t row = begin; row < end; ++row) {
                if (chunk_stopped(64)) return;
                Status s = one_row(row, node, unknown);
                if (!s) {
                    failures[row] = s.error();
                    return;
                }
            }
        },
        cancel);
    if (!done) return cancelled();
    for (const auto& f : failures)
        if (f) return std::unexpected(*f);
    return table;
}

}  // namespace

Result<RiskTable> bucketed_risk(const YieldCurve& curve, std::span<const BookItem> book, Cancel& cancel,
                                std::span<const std::shared_ptr<const Layout>> laid) {
    if (!curve.bootstrap_state()) return invalid("yield curve: risk needs a curve built by bootstrap");
    const dates::Serial ref = *curve.dating().reference;
    const auto resolve = [&](std::size_t row) -> Result<RowLayout> {
        const BookItem& item = book[row];
        const auto named = [&](const Error& e) { return std::unexpected(Error{e.kind, name_of(item) + ": " + e.text}); };
        RowLayout out;  // a bond held: weight 1, its face
        const auto* note = std::get_if<FloatingRateNote>(&item);
        if (note) out.weight = note->notional;
        if (const auto* i = std::get_if<Instrument>(&item); i && !laid.empty() && laid[row]) {
            out.weight = trade_of(*i).notional;
            out.layout = laid[row];
        } else if (note && !laid.empty() && laid[row]) {
            out.layout = laid[row];
        } else if (note) {
            auto own = lay_out_note_kept(*note, ref);
            if (!own) return std::unexpected(own.error());
            if (!(*own)->past.empty())
                return named(Error{Kind::InvalidInput, "a coupon fixed before the curve's reference date: seasoned trades "
                                                       "need fixings"});
            out.layout = std::move(*own);
        } else if (i) {
            out.weight = trade_of(*i).notional;
            auto kept = lay_out_kept(*i, ref);
            if (!kept) return std::unexpected(kept.error());
            out.layout = std::move(*kept);
        } else {
            auto held = lay_out_held(std::get<bonds::DatedBond>(item), ref);
            if (!held) return named(held.error());
            out.layout = std::make_shared<const Layout>(std::move(*held));
        }
        return out;
    };
    return risk_rows(curve, book.size(), resolve, [&](std::size_t row) { return name_of(book[row]); }, cancel);
}

Result<RiskTable> bucketed_risk(const YieldCurve& curve, std::span<const std::shared_ptr<const Layout>> layouts,
                                std::span<const std::string> names, Cancel& cancel) {
    const auto resolve = [&](std::size_t row) -> Result<RowLayout> { return RowLayout{layouts[row], 1.0}; };
    return risk_rows(curve, layouts.size(), resolve, [&](std::size_t row) { return names[row]; }, cancel);
}

}  // namespace quelm::curves

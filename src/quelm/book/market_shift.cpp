#include "quelm/book/market_shift.hpp"

#include <algorithm>
#include <cmath>
#include <memory>
#include <utility>
#include <variant>

#include "quelm/book/cds_trade.hpp"
#include "quelm/book/fx.hpp"
#include "quelm/book/quote_label.hpp"
#include "quelm/book/scenario_each.hpp"
#include "quelm/core/parallel.hpp"
#include "quelm/core/text.hpp"
#include "quelm/credit/bootstrap.hpp"
#include "quelm/curves/bootstrap.hpp"

namespace quelm::book {

namespace {

using curves::YieldCurve;

void move_quote(curves::Instrument& i, double amount) {
    std::visit(
        [amount](auto& x) {
            using T = std::decay_t<decltype(x)>;
            if constexpr (std::is_same_v<T, curves::Future>) {
                x.price += amount;
            } else if constexpr (std::is_same_v<T, curves::BondQuote>) {
                x.clean_price += amount;
            } else {
                x.rate += amount;
            }
        },
        i);
}

std::string amount_text(double amount) { return format_number(amount); }

// What a scenario moves, curve by curve: each quote's total, or nothing for a curve no
// shift reaches.
Result<std::vector<std::vector<double>>> quote_moves(const Market& base, const MarketShift& shift) {
    const auto curves = base.curves().items();
    std::vector<std::vector<double>> moves(curves.size());
    for (const QuoteShift& s : shift.quotes) {
        if (s.curve >= curves.size())
            return bad_argument("no curve " + std::to_string(s.curve) + " in a market of " +
                                std::to_string(curves.size()) + " curves");
        const auto& name = curves[s.curve].name;
        const auto& state = curves[s.curve].value->bootstrap_state();
        if (!state)
            return bad_argument("curve " + name + " was given whole, not bootstrapped from quotes: it can't be "
                                "shifted by quote");
        const std::size_t n = state->spec.instruments.size();
        if (s.quote >= n)
            return bad_argument("curve " + name + " has " + std::to_string(n) + " quotes, no quote " +
                                std::to_string(s.quote));
        if (!std::isfinite(s.amount))
            return bad_argument("the shift of a quote of curve " + name + " must be finite, got " +
                                amount_text(s.amount));
        if (s.amount == 0.0) continue;
        if (moves[s.curve].empty()) moves[s.curve].assign(n, 0.0);
        moves[s.curve][s.quote] += s.amount;
    }
    return moves;
}

// The credit quotes' moves, credit curve by credit curve.
Result<std::vector<std::vector<double>>> credit_moves(const Market& base, const MarketShift& shift) {
    const auto credit = base.credit_curves().items();
    std::vector<std::vector<double>> moves(credit.size());
    for (const QuoteShift& s : shift.credit) {
        if (s.curve >= credit.size())
            return bad_argument("no credit curve " + std::to_string(s.curve) + " in a market of " +
                                std::to_string(credit.size()) + " credit curves");
        const auto& name = credit[s.curve].name;
        const auto& quotes = credit[s.curve].value->quotes();
        if (!quotes)
            return bad_argument("credit curve " + name + " was given whole, not bootstrapped from quotes: it can't be "
                                "shifted by quote");
        const std::size_t n = quotes->quotes.size();
        if (s.quote >= n)
            return bad_argument("credit curve " + name + " has " + std::to_string(n) + " quotes, no quote " +
                                std::to_string(s.quote));
        if (!std::isfinite(s.amount))
            return bad_argument("the shift of a quote of credit curve " + name + " must be finite, got " +
                                amount_text(s.amount));
        if (s.amount == 0.0) continue;
        if (moves[s.curve].empty()) moves[s.curve].assign(n, 0.0);
        moves[s.curve][s.quote] += s.amount;
    }
    return moves;
}

// The market's index of a curve: the very object, else one equal to it.
std::optional<std::size_t> link_of(const Market& market, const YieldCurve* d, std::optional<std::size_t> skip) {
    const auto curves = market.curves().items();
    for (std::size_t j = 0; j < curves.size(); ++j)
        if (j != skip && curves[j].value.get() == d) return j;
    for (std::size_t j = 0; j < curves.size(); ++j)
        if (j != skip && *curves[j].value == *d) return j;
    return std::nullopt;
}

struct Rebuild {
    const Market& base;
    const std::vector<std::optional<std::size_t>>& links;
    const std::vector<std::vector<double>>& moves;
    std::vector<unsigned char> state;  // 0 not seen, 1 on the path, 2 done
    std::vector<std::shared_ptr<const YieldCurve>> out;
    std::vector<bool> rebuilt;

    // Curve i as the scenario has it, its discount curve first. A loop of links cannot come
    // from a bootstrap (each curve was built after its discount curve) but may from curves
    // compared by value; it is an error rather than a hang.
    Status build(std::size_t i, Cancel& cancel) {
        if (state[i] == 2) return {};
        const auto& item = base.curves().items()[i];
        if (state[i] == 1) return bad_argument("curve " + item.name + " discounts on itself through other curves");
        state[i] = 1;
        bool moved = !moves[i].empty();
        if (links[i]) {
            QUELM_CHECK(build(*links[i], cancel));
            moved = moved || rebuilt[*links[i]];
        }
        state[i] = 2;
        if (!moved) {
            out[i] = item.value;
            return {};
        }
        if (cancel.poll()) return cancelled();
        curves::BootstrapSpec spec = item.value->bootstrap_state()->spec;
        if (!moves[i].empty())
            for (std::size_t k = 0; k < spec.instruments.size(); ++k)
                if (moves[i][k] != 0.0) move_quote(spec.instruments[k], moves[i][k]);
        if (links[i] && rebuilt[*links[i]]) spec.discount = out[*links[i]];
        auto curve = curves::bootstrap(std::move(spec), cancel);
        if (!curve) {
            if (is_cancelled(curve.error())) return std::unexpected(std::move(curve.error()));
            Error e = std::move(curve.error());
            e.text = "curve " + item.name + ": " + e.text;
            return std::unexpected(std::move(e));
        }
        out[i] = std::make_shared<const YieldCurve>(std::move(*curve));
        rebuilt[i] = true;
        return {};
    }
};

// The credit curves under the scenario: each one that moved, or whose discount curve was
// rebuilt, bootstrapped again; empty when none did.
Result<std::vector<Named<credit::CreditCurve>>> credit_rebuilt(const Market& base, const Rebuild& r,
                                                               const std::vector<std::optional<std::size_t>>& links,
                                                               const std::vector<std::vector<double>>& moves,
                                                               Cancel& cancel) {
    const auto items = base.credit_curves().items();
    std::vector<Named<credit::CreditCurve>> out;
    bool any = false;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const bool on_rebuilt = links[i] && r.rebuilt[*links[i]];
        if (moves[i].empty() && !on_rebuilt) {
            out.push_back(items[i]);
            continue;
        }
        if (cancel.poll()) return cancelled();
        credit::CurveQuotes spec = *items[i].value->quotes();
        for (std::size_t k = 0; k < moves[i].size(); ++k)
            if (moves[i][k] != 0.0) spec.quotes[k].value += moves[i][k];
        if (on_rebuilt) spec.discount = r.out[*links[i]];
        auto curve = credit::bootstrap_credit(std::move(spec), cancel);
        if (!curve) {
            if (is_cancelled(curve.error())) return std::unexpected(std::move(curve.error()));
            Error e = std::move(curve.error());
            if (e.text.starts_with("credit curve: ")) e.text.erase(0, 14);
            e.text = "credit curve " + items[i].name + ": " + e.text;
            return std::unexpected(std::move(e));
        }
        out.push_back({items[i].name, std::make_shared<const credit::CreditCurve>(std::move(*curve))});
        any = true;
    }
    if (!any) out.clear();
    return out;
}

struct Links {
    std::vector<std::optional<std::size_t>> curves, credit;
};

Result<Market> shift_linked(const Market& base, const Links& linked, const MarketShift& shift, Cancel& cancel) {
    const auto& links = linked.curves;
    QUELM_TRY(moves, quote_moves(base, shift));
    QUELM_TRY(cmoves, credit_moves(base, shift));
    const auto spots = base.fx_spots().spots();
    std::vector<FxSpot> fx(spots.begin(), spots.end());
    bool fx_moved = false;
    for (const FxShift& s : shift.fx) {
        if (s.pair >= fx.size())
            return bad_argument("no fx pair " + std::to_string(s.pair) + " in a market of " +
                                std::to_string(fx.size()) + " pairs");
        if (!std::isfinite(s.amount))
            return bad_argument("the shift of fx pair " + fx[s.pair].pair + " must be finite, got " +
                                amount_text(s.amount));
        if (s.amount == 0.0) continue;
        fx[s.pair].spot += s.amount;
        fx_moved = true;
    }
    if (fx_moved)
        for (const FxSpot& s : fx)
            if (!(s.spot > 0.0))  // checked here to say what moved it
                return bad_argument("fx pair " + s.pair + " shifted to " + format_number(s.spot) +
                                    ": a spot must stay positive");
    const std::size_t n = base.curves().size();
    const auto any = [](const auto& m) { return !m.empty(); };
    const bool curves_moved = std::any_of(moves.begin(), moves.end(), any);
    const bool credit_moved = std::any_of(cmoves.begin(), cmoves.end(), any);
    if (!curves_moved && !fx_moved && !credit_moved) return base;
    Rebuild r{base, links, moves, std::vector<unsigned char>(n, 0), std::vector<std::shared_ptr<const YieldCurve>>(n),
              std::vector<bool>(n, false)};
    for (std::size_t i = 0; i < n; ++i) QUELM_CHECK(r.build(i, cancel));
    QUELM_TRY(credit, credit_rebuilt(base, r, linked.credit, cmoves, cancel));
    std::vector<Named<YieldCurve>> curves;
    curves.reserve(n);
    for (std::size_t i = 0; i < n; ++i) curves.push_back({base.curves().items()[i].name, std::move(r.out[i])});
    return base.replaced(std::move(curves), std::move(fx), std::move(credit));
}

}  // namespace

std::vector<std::optional<std::size_t>> discount_links(const Market& market) {
    const auto curves = market.curves().items();
    std::vector<std::optional<std::size_t>> links(curves.size());
    for (std::size_t i = 0; i < curves.size(); ++i) {
        const auto& state = curves[i].value->bootstrap_state();
        if (!state || state->spec.discount == nullptr) continue;
        links[i] = link_of(market, state->spec.discount.get(), i);
    }
    return links;
}

std::vector<std::optional<std::size_t>> credit_links(const Market& market) {
    const auto items = market.credit_curves().items();
    std::vector<std::optional<std::size_t>> links(items.size());
    for (std::size_t i = 0; i < items.size(); ++i)
        if (const auto& q = items[i].value->quotes()) links[i] = link_of(market, q->discount.get(), std::nullopt);
    return links;
}

Result<Market> shift_market(const Market& base, const MarketShift& shift, Cancel& cancel) {
    return shift_linked(base, Links{discount_links(base), credit_links(base)}, shift, cancel);
}

Result<std::vector<Market>> shift_scenarios(const Market& base, std::span<const MarketShift> shifts,
                                           std::span<const std::string> names, Cancel& cancel) {
    const Links links{discount_links(base), credit_links(base)};
    std::vector<std::optional<Market>> markets(shifts.size());
    QUELM_CHECK(for_each_scenario(
        shifts.size(),
        [&](std::size_t i, Cancel& chunk) -> Status {
            QUELM_TRY(m, shift_linked(base, links, shifts[i], chunk));
            markets[i] = std::move(m);
            return {};
        },
        [&](std::size_t i) { return "scenario " + (i < names.size() ? names[i] : std::to_string(i)) + ": "; },
        cancel));
    std::vector<Market> out;
    out.reserve(markets.size());
    for (auto& m : markets) out.push_back(std::move(*m));
    return out;
}

Result<ShiftKeys> ShiftKeys::make(const Market& market) {
    ShiftKeys k;
    const auto curves = market.curves().items();
    for (std::size_t i = 0; i < curves.size(); ++i) {
        const auto& state = curves[i].value->bootstrap_state();
        k.curves_.push_back({curves[i].name, i, state ? state->spec.instruments.size() : 0});
        if (!state) continue;
        QUELM_TRY(labels, quote_labels(curves[i].name, state->spec.instruments));
        for (std::size_t q = 0; q < labels.size(); ++q)
            k.labels_.push_back({std::move(labels[q]), i, q, curves::quoted(state->spec.instruments[q])});
    }
    const auto credit = market.credit_curves().items();
    for (std::size_t i = 0; i < credit.size(); ++i) {
        const auto& q = credit[i].value->quotes();
        k.curves_.push_back({credit[i].name, i, q ? q->quotes.size() : 0, true});
        auto labels = credit_quote_labels(credit[i].name, *credit[i].value);
        for (std::size_t j = 0; j < labels.size(); ++j)
            k.labels_.push_back({std::move(labels[j]), i, j, q->quotes[j].value, true});
    }
    k.sorted_.resize(k.labels_.size());
    for (std::size_t i = 0; i < k.sorted_.size(); ++i) k.sorted_[i] = i;
    std::sort(k.sorted_.begin(), k.sorted_.end(),
              [&](std::size_t a, std::size_t b) { return k.labels_[a].text < k.labels_[b].text; });
    for (const FxSpot& s : market.fx_spots().spots()) k.pairs_.push_back({s.pair, s.spot});
    return k;
}

const ShiftKeys::Label* ShiftKeys::label(std::string_view key) const {
    const auto at = std::lower_bound(sorted_.begin(), sorted_.end(), key,
                                     [&](std::size_t l, std::string_view k) { return labels_[l].text < k; });
    return at != sorted_.end() && labels_[*at].text == key ? &labels_[*at] : nullptr;
}

const ShiftKeys::Curve* ShiftKeys::curve(std::string_view key) const {
    for (const Curve& c : curves_)
        if (c.name == key) return &c;
    return nullptr;
}

std::optional<std::size_t> ShiftKeys::pair(std::string_view key) const {
    auto p = parse_pair(key);
    if (!p) return std::nullopt;
    for (std::size_t i = 0; i < pairs_.size(); ++i)
        if (pairs_[i].pair == *p) return i;
    return std::nullopt;
}

bool ShiftKeys::is_fx(std::string_view key) const { return !label(key) && !curve(key) && pair(key); }

Error ShiftKeys::unknown(std::string_view key) const {
    std::string text = "unknown shift key " + quote_literal(key);
    // A key naming a curve of the market but no quote of it: that curve's quotes, all.
    for (const Curve& c : curves_) {
        if (c.quotes == 0 || key.size() <= c.name.size() || key.substr(0, c.name.size()) != c.name ||
            key[c.name.size()] != ' ')
            continue;
        text += std::string(c.credit ? ": credit curve " : ": curve ") + c.name + " has no such quote; its quotes are ";
        bool first = true;
        for (const Label& l : labels_)
            if (l.curve == c.index && l.credit == c.credit) {
                text += (first ? "" : ", ") + l.text;
                first = false;
            }
        return bad_argument(std::move(text)).error();
    }
    // A pair the market holds the other way round: its spot moves in the other units.
    if (auto p = parse_pair(key))
        for (const Pair& given : pairs_)
            if (given.pair == p->substr(3) + p->substr(0, 3))
                return bad_argument(std::move(text) + ": the market's spot is " + given.pair + "; shift that")
                    .error();
    constexpr std::size_t kListed = 4;
    text += ": not a quote label, a curve or an fx pair of the market; its quotes are ";
    if (labels_.empty()) text += "none";
    for (std::size_t i = 0; i < labels_.size() && i < kListed; ++i) text += (i ? ", " : "") + labels_[i].text;
    if (labels_.size() > kListed) text += ", ... (" + std::to_string(labels_.size()) + " in all)";
    std::vector<std::string_view> names;
    for (const Curve& c : curves_) names.push_back(c.name);
    text += "; its curves " + join_names(names);
    names.clear();
    for (const Pair& p : pairs_) names.push_back(p.pair);
    text += "; its fx pairs " + join_names(names);
    return bad_argument(std::move(text)).error();
}

Status ShiftKeys::add(std::string_view key, double amount, MarketShift& out) const {
    if (const Label* l = label(key)) {
        (l->credit ? out.credit : out.quotes).push_back({l->curve, l->quote, amount});
        return {};
    }
    if (const Curve* c = curve(key)) {
        if (c->quotes == 0)
            return bad_argument(std::string(c->credit ? "credit curve " : "curve ") + c->name +
                                " was given whole, not bootstrapped from quotes: it can't be shifted by quote");
        for (std::size_t q = 0; q < c->quotes; ++q) (c->credit ? out.credit : out.quotes).push_back({c->index, q, amount});
        return {};
    }
    if (const auto p = pair(key)) {
        out.fx.push_back({*p, amount});
        return {};
    }
    return std::unexpected(unknown(key));
}

Result<double> ShiftKeys::level(std::string_view key) const {
    if (const Label* l = label(key)) return l->level;
    if (curve(key)) return bad_argument("curve " + std::string(key) + " has many quotes: a change relative to its "
                                        "level needs a quote label");
    if (const auto p = pair(key)) return pairs_[*p].spot;
    return std::unexpected(unknown(key));
}

}  // namespace quelm::book

// A market under quote shifts: some of the quotes its curves were bootstrapped from moved,
// some FX spots moved, and every curve that reads a moved quote rebuilt with its own recipe
// (curves::BootstrapState::spec), a projection curve on its rebuilt discount curve, shared;
// a credit curve bootstrapped on a rebuilt curve, or whose own quotes moved, is bootstrapped
// again on it (its spreads held).
// Curves no shift reaches are shared with the base market, not rebuilt. Book scenarios and
// VaR build their markets here, by index, without names; ShiftKeys turns the names users
// write (a quote label, a curve, an FX pair) into those indices.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "quelm/book/market.hpp"
#include "quelm/core/cancel.hpp"
#include "quelm/core/error.hpp"

namespace quelm::book {

// Quote `quote` (its index in the curve's instruments) of curve `curve` (its index in
// market.curves().items()) moved by `amount` in the quote's own units: a rate +0.0001 is
// +1bp, a future's or a bond's price moves in price units.
struct QuoteShift {
    std::size_t curve = 0;
    std::size_t quote = 0;
    double amount = 0.0;
};

// FX spot `pair` (its index in market.fx_spots().spots()) moved by `amount`.
struct FxShift {
    std::size_t pair = 0;
    double amount = 0.0;
};

// One scenario. Shifts of one quote add up, in the order given; a shift of exactly zero
// moves nothing, so an all-zero scenario is the base market, bit for bit. `credit` moves
// the quotes of credit curves (`curve` its index in market.credit_curves().items(), `quote`
// in maturity order): a spread +0.0001 is +1bp, an upfront moves per unit notional.
struct MarketShift {
    std::vector<QuoteShift> quotes;
    std::vector<FxShift> fx;
    std::vector<QuoteShift> credit;
};

// The curve each curve of the market discounts on, when that is a curve of the market
// (by index): the very object, or else a curve equal to it (as after a pickle round trip).
[[nodiscard]] std::vector<std::optional<std::size_t>> discount_links(const Market& market);
// The same for each bootstrapped credit curve's discount curve.
[[nodiscard]] std::vector<std::optional<std::size_t>> credit_links(const Market& market);

// The market under `shift`. An index out of range, a shift of a curve given whole (no
// quotes to move) and a non-finite amount are errors; a failed rebuild is an error naming
// the curve. Polls `cancel` between curves.
[[nodiscard]] Result<Market> shift_market(const Market& base, const MarketShift& shift, Cancel& cancel);

// Many scenarios on the worker pool: element i has the bits of shift_market(base,
// shifts[i]) on any thread count. The first failing scenario (lowest index) is reported,
// its message after "scenario <name>: " (names[i], or else i).
[[nodiscard]] Result<std::vector<Market>> shift_scenarios(const Market& base, std::span<const MarketShift> shifts,
                                                          std::span<const std::string> names, Cancel& cancel);

// The keys a shift may go by, read once from a market: a quote label ("usd-sofr 5Y": that
// quote; "acme 5Y": a credit curve's), a curve or credit curve name ("usd-sofr": each of its
// quotes, in parallel) or an FX pair given to the market ("EURUSD", any letter case: its
// spot).
class ShiftKeys {
public:
    [[nodiscard]] static Result<ShiftKeys> make(const Market& market);

    // Appends the shift of `key` by `amount` to `out`; an unknown key is an error naming it
    // and listing a few keys there are.
    [[nodiscard]] Status add(std::string_view key, double amount, MarketShift& out) const;

    // The base value a key's history is relative to: the quote as given, or the spot; a
    // curve name has none (its quotes differ), an error.
    [[nodiscard]] Result<double> level(std::string_view key) const;

    // Whether the key is an FX pair of the market.
    [[nodiscard]] bool is_fx(std::string_view key) const;

private:
    struct Label {
        std::string text;
        std::size_t curve = 0, quote = 0;
        double level = 0.0;
        bool credit = false;  // a credit curve's
    };
    struct Curve {
        std::string name;
        std::size_t index = 0, quotes = 0;  // quotes: 0 for a curve given whole
        bool credit = false;
    };
    struct Pair {
        std::string pair;
        double spot = 0.0;
    };
    [[nodiscard]] const Label* label(std::string_view key) const;
    [[nodiscard]] const Curve* curve(std::string_view key) const;
    [[nodiscard]] std::optional<std::size_t> pair(std::string_view key) const;
    [[nodiscard]] Error unknown(std::string_view key) const;

    std::vector<Label> labels_;         // as the market lists them
    std::vector<std::size_t> sorted_;  // labels_ by text, for lookups
    std::vector<Curve> curves_;  // by name, as the market's, then the credit curves
    std::vector<Pair> pairs_;    // by pair, as the market's
};

}  // namespace quelm::book

// An FX option's volatility off a market FX smile (or surface of smiles) rebuilt on the
// market's spot and curves, and the slopes of that volatility in everything the rebuild
// reads: the spot, each smile's two zero rates and each of its quotes.
//
// The slopes are numerical: central differences at two steps, Richardson-extrapolated
// (truncation O(h^4) at h = 2e-4 of a vol, a rate, or the spot's size), each bump
// rebuilding the smile it touches from its quotes, market strangle solve included. They
// agree with bump-and-rebuild to about 1e-9 relative; the rest of the trade's risk (its
// Garman-Kohlhagen dependence on the spot and both curves at its expiry) is exact. The
// rebuilt smiles and their bumps depend on the spot and rates alone, so they are built once
// per market and shared by every option on them (the FxVols' cache); the results are the
// same bits with or without it.
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "quelm/book/fx_vols.hpp"
#include "quelm/book/market.hpp"
#include "quelm/book/trade_parts.hpp"
#include "quelm/core/error.hpp"
#include "quelm/dates/serial.hpp"
#include "quelm/fx/smile.hpp"
#include "quelm/fx/surface.hpp"

namespace quelm::book {

// The smiles on one set of inputs, and the surface through them.
struct SmileSet {
    std::vector<fx::FxSmile> smiles;
    std::optional<fx::FxVolSurface> surface;
};

// The smiles rebuilt on the market, with (when asked for risk) each input bumped by
// +h, -h, +h/2, -h/2: the spot first, then each smile's domestic and foreign rates, then the
// quotes in fx_quote_columns order.
struct RebuiltSmiles {
    SmileSet base;
    std::vector<dates::Serial> expiries;  // each smile's expiry date
    std::vector<double> pd, pf;           // both curves' discount factors there
    std::vector<double> steps;            // per input, h
    std::vector<SmileSet> bumped;         // per input, four sets
};

// The smiles' expiries are the dates whose time on the pair's domestic curve is each
// smile's t (to 1e-12): an error otherwise.
[[nodiscard]] Result<std::shared_ptr<const RebuiltSmiles>> rebuilt_smiles(const Market& market,
                                                                        const parts::PairAt& at,
                                                                        const FxVols& vols, bool with_bumps);

// The vol at (strike, t) on a set: one smile's own at its expiry, else the total-variance
// surface through the smiles (a single smile held flat in moneyness).
[[nodiscard]] Result<double> smile_set_vol(const SmileSet& set, bool surface, double strike, double t);

struct SmileSlopes {
    double spot = 0.0;           // d vol / d spot
    std::vector<double> rd, rf;  // per smile, d vol / d zero rate
    std::vector<double> quotes;  // per fx_quote_columns entry, d vol / d quote
};
[[nodiscard]] Result<SmileSlopes> smile_slopes(const RebuiltSmiles& r, const FxVols& vols, double strike, double t);

}  // namespace quelm::book

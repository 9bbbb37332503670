// An FX option's volatility off a market FX smile (or surface of smiles) rebuilt on the
// market's spot and curves, and the slopes of that volatility in everything the rebuild
// reads: the spot, each smile's two zero rates and each of its quotes.
//
// The slopes are numerical: central differences at two steps, Richardson-extrapolated
// (truncation O(h^4) at h = 2e-4 of a vol, a rate, or the spot's size), each bump
// rebuilding the smile it touches from its quotes, market strangle solve included. They
// agree with bump-and-rebuild to about 1e-10 relative; the rest of the trade's risk (its
// Garman-Kohlhagen dependence on the spot and both curves at its expiry) is exact.
#pragma once

#include <string>
#include <vector>

#include "quelm/book/fx_vols.hpp"
#include "quelm/book/market.hpp"
#include "quelm/book/trade_parts.hpp"
#include "quelm/core/error.hpp"
#include "quelm/dates/serial.hpp"
#include "quelm/fx/smile.hpp"

namespace quelm::book {

struct SmileVol {
    std::vector<fx::FxSmile> smiles;     // rebuilt on the market, in expiry order
    std::vector<dates::Serial> expiries;  // each smile's expiry date
    std::vector<double> pd, pf;           // both curves' discount factors there
    double vol = 0.0;                     // at the option's strike and time
};

// The smiles' expiries are the dates whose time on the pair's domestic curve is each
// smile's t (to 1e-12): an error otherwise.
[[nodiscard]] Result<SmileVol> smile_vol(const Market& market, const parts::PairAt& at, const FxVols& vols,
                                         double strike, double t);

struct SmileSlopes {
    double spot = 0.0;             // d vol / d spot
    std::vector<double> rd, rf;    // per smile, d vol / d zero rate
    std::vector<double> quotes;    // per fx_quote_columns entry, d vol / d quote
};
[[nodiscard]] Result<SmileSlopes> smile_slopes(const SmileVol& base, const FxVols& vols, double strike, double t);

}  // namespace quelm::book

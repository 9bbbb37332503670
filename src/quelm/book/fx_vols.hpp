// A market's FX volatility: one smile (FxSmile) or a surface of smiles over expiries
// (FxVolSurface), kept as the smiles' quotes. In a market a smile's spot and rates are the
// market's: before pricing it is rebuilt from its quotes on the pair's spot and on the
// two curves' zero rates to its expiry (the date whose time on the domestic curve is the
// smile's t), so its pillar strikes move with the spot and the curves.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "quelm/core/error.hpp"
#include "quelm/fx/smile.hpp"

namespace quelm::book {

// The smiles rebuilt on the last spot and rates they were priced on, and their bumps for
// risk, shared by every trade priced on them (fx_smile_vol.cpp).
struct FxSmileCache;
[[nodiscard]] std::shared_ptr<FxSmileCache> new_fx_smile_cache();

struct FxVols {
    std::vector<fx::FxSmile> smiles;  // in expiry order
    bool surface = false;             // an FxVolSurface (else the one smile)
    std::shared_ptr<FxSmileCache> cache = new_fx_smile_cache();  // not part of the value
    friend bool operator==(const FxVols& a, const FxVols& b) {
        return a.surface == b.surface && a.smiles == b.smiles;
    }
};

// The risk report's label of a smile quote: "<name> <t>y atm", "<name> <t>y 25 rr",
// "<name> <t>y 10 bf" (t as the surface slices print it, the delta in percent).
[[nodiscard]] std::string fx_quote_label(const std::string& name, double t, const char* what, double delta);

// Each smile's quotes in column order: atm, then rr and bf per delta.
struct FxQuoteColumn {
    std::size_t smile = 0;
    int which = 0;  // 0 atm, 1 rr, 2 bf
    std::size_t delta = 0;
    std::string label;
};
[[nodiscard]] std::vector<FxQuoteColumn> fx_quote_columns(const std::string& name, const FxVols& vols);

}  // namespace quelm::book

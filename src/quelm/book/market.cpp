#include "quelm/book/market.hpp"

#include <utility>

namespace quelm::book {

namespace {

Status check_dated(dates::Serial reference, const std::vector<Named<curves::YieldCurve>>& curves) {
    const std::string market_date = dates::format_iso(reference);
    for (const auto& c : curves) {
        if (c.value == nullptr) continue;  // the table reports it
        const auto& ref = c.value->dating().reference;
        if (!ref)
            return bad_argument("curve " + c.name + " has no reference date; the market's curves are dated at " +
                                market_date);
        if (*ref != reference)
            return bad_argument("curve " + c.name + " has reference date " + dates::format_iso(*ref) +
                                ", not the market's " + market_date);
    }
    return {};
}

}  // namespace

Result<Market> Market::make(MarketParts parts) {
    QUELM_CHECK(check_dated(parts.reference, parts.curves));
    Market m;
    m.reference_ = parts.reference;
    QUELM_TRY(curves, NamedTable<curves::YieldCurve>::make(std::move(parts.curves), "curve"));
    QUELM_TRY(surfaces, NamedTable<volatility::VolSurface>::make(std::move(parts.surfaces), "surface"));
    QUELM_TRY(fx, FxTable::make(std::move(parts.fx)));
    QUELM_TRY(fixings, FixingTable::make(std::move(parts.fixings)));
    m.curves_ = std::move(curves);
    m.surfaces_ = std::move(surfaces);
    m.fx_ = std::move(fx);
    m.fixings_ = std::move(fixings);
    QUELM_TRY(fx_vols, NamedTable<FxVols>::make(std::move(parts.fx_vols), "FX smile"));
    for (const auto& v : fx_vols.items())
        if (m.surfaces_.find(v.name) != nullptr) return bad_argument("surface " + v.name + " is given twice");
    m.fx_vols_ = std::move(fx_vols);
    return m;
}

Result<Market> Market::replaced(std::vector<Named<curves::YieldCurve>> curves, std::vector<FxSpot> fx) const {
    QUELM_CHECK(check_dated(reference_, curves));
    Market m = *this;
    QUELM_TRY(table, NamedTable<curves::YieldCurve>::make(std::move(curves), "curve"));
    QUELM_TRY(spots, FxTable::make(std::move(fx)));
    m.curves_ = std::move(table);
    m.fx_ = std::move(spots);
    return m;
}

}  // namespace quelm::book

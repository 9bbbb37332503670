#include "quelm/book/market.hpp"

#include <memory>
#include <utility>

#include "quelm/curves/bootstrap.hpp"

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

Status check_credit(dates::Serial reference, const std::vector<Named<credit::CreditCurve>>& credit_curves,
                    const NamedTable<curves::YieldCurve>& curves) {
    for (const auto& c : credit_curves) {
        if (c.value == nullptr) continue;  // the table reports it
        if (c.value->trade_date() != reference)
            return bad_argument("credit curve " + c.name + " has trade date " + dates::format_iso(c.value->trade_date()) +
                                ", not the market's " + dates::format_iso(reference));
        if (curves.find(c.name) != nullptr) return bad_argument("credit curve " + c.name + " has the name of a curve");
    }
    return {};
}

bool same_curve(const curves::YieldCurve& a, const curves::YieldCurve& b) {
    if (!(a == b)) return false;
    const auto& sa = a.bootstrap_state();
    const auto& sb = b.bootstrap_state();
    return sa == sb || (sa && sb && sa->spec.instruments == sb->spec.instruments);
}

// A curve made on its own (unpickled on a worker, say) brings its own copy of the curve it
// was built on; the risk's chain of curves finds the market's curves by identity, so each
// such copy is replaced by the market's equal curve, deepest first.
void link_built_on(std::vector<Named<curves::YieldCurve>>& curves) {
    for (std::size_t pass = 0; pass <= curves.size(); ++pass) {
        bool moved = false;
        for (auto& c : curves) {
            if (c.value == nullptr || !c.value->bootstrap_state()) continue;
            const std::shared_ptr<const curves::YieldCurve>& built_on = c.value->bootstrap_state()->spec.discount;
            if (built_on == nullptr) continue;
            for (const auto& o : curves) {
                if (o.value == nullptr || o.value == built_on || o.value == c.value || !same_curve(*o.value, *built_on))
                    continue;
                auto state = std::make_shared<curves::BootstrapState>(*c.value->bootstrap_state());
                state->spec.discount = o.value;
                c.value = std::make_shared<const curves::YieldCurve>(c.value->with_state(std::move(state)));
                moved = true;
                break;
            }
        }
        if (!moved) return;
    }
}

}  // namespace

Result<Market> Market::make(MarketParts parts) {
    QUELM_CHECK(check_dated(parts.reference, parts.curves));
    link_built_on(parts.curves);
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
    QUELM_CHECK(check_credit(m.reference_, parts.credit_curves, m.curves_));
    QUELM_TRY(credit_curves, NamedTable<credit::CreditCurve>::make(std::move(parts.credit_curves), "credit curve"));
    m.credit_curves_ = std::move(credit_curves);
    QUELM_TRY(rate_vols, NamedTable<RateVols>::make(std::move(parts.rate_vols), "rate vol"));
    // Their risk columns are labelled by name, as a surface's slices are.
    for (const auto& v : rate_vols.items()) {
        if (m.surfaces_.find(v.name) != nullptr || m.fx_vols_.find(v.name) != nullptr)
            return bad_argument("rate vol " + v.name + " has the name of a surface: vols' names must differ");
        if (m.credit_curves_.find(v.name) != nullptr)
            return bad_argument("rate vol " + v.name + " has the name of a credit curve: names must differ");
    }
    m.rate_vols_ = std::move(rate_vols);
    return m;
}

Result<Market> Market::replaced(std::vector<Named<curves::YieldCurve>> curves, std::vector<FxSpot> fx,
                                std::vector<Named<credit::CreditCurve>> credit_curves) const {
    QUELM_CHECK(check_dated(reference_, curves));
    Market m = *this;
    QUELM_TRY(table, NamedTable<curves::YieldCurve>::make(std::move(curves), "curve"));
    QUELM_TRY(spots, FxTable::make(std::move(fx)));
    m.curves_ = std::move(table);
    m.fx_ = std::move(spots);
    if (!credit_curves.empty()) {
        QUELM_CHECK(check_credit(reference_, credit_curves, m.curves_));
        QUELM_TRY(credit, NamedTable<credit::CreditCurve>::make(std::move(credit_curves), "credit curve"));
        m.credit_curves_ = std::move(credit);
    }
    return m;
}

}  // namespace quelm::book

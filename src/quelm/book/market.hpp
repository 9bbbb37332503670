// The named market a book is priced on: at one reference date, yield curves by name
// ("usd-sofr", "eur-euribor-6m"), volatility surfaces by name, FX smiles by name, credit curves
// by name, rate vols (swaptions' and caps') by name, FX spots and past fixings.
// Immutable once made; curves and surfaces are shared, not copied, by every copy of the
// market, so pricing and risk over many trades on the worker pool read one set of values
// without the interpreter.
#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "quelm/book/fixings.hpp"
#include "quelm/book/fx.hpp"
#include "quelm/book/fx_vols.hpp"
#include "quelm/book/named.hpp"
#include "quelm/book/rate_vols.hpp"
#include "quelm/core/error.hpp"
#include "quelm/credit/credit_curve.hpp"
#include "quelm/curves/curve.hpp"
#include "quelm/dates/serial.hpp"
#include "quelm/volatility/surface.hpp"

namespace quelm::book {

// What a market is made of, in any order.
struct MarketParts {
    dates::Serial reference = 0;
    std::vector<Named<curves::YieldCurve>> curves;
    std::vector<Named<volatility::VolSurface>> surfaces;
    std::vector<FxSpot> fx;
    std::vector<FixingSeries> fixings;
    std::vector<Named<FxVols>> fx_vols;  // names distinct from the surfaces'
    std::vector<Named<credit::CreditCurve>> credit_curves;  // names distinct from the curves'
    std::vector<Named<RateVols>> rate_vols;  // swaptions' and caps' vols; names distinct from the
                                             // surfaces', smiles' and credit curves'
};

class Market {
public:
    // Every curve must be dated at the reference date (a curve dated elsewhere, or not at
    // all, would put its cash flows at the wrong times): an error names the curve.
    [[nodiscard]] static Result<Market> make(MarketParts parts);

    [[nodiscard]] dates::Serial reference_date() const { return reference_; }

    // This market with other curves and FX spots (a scenario's): the same date, surfaces and
    // fixings, shared; the curves are checked as make checks them. Credit curves given
    // (one per credit curve of this market, by name) replace this market's.
    [[nodiscard]] Result<Market> replaced(std::vector<Named<curves::YieldCurve>> curves, std::vector<FxSpot> fx,
                                          std::vector<Named<credit::CreditCurve>> credit_curves = {}) const;

    // A lookup's error names what is missing and lists what the market has.
    [[nodiscard]] Result<std::shared_ptr<const curves::YieldCurve>> curve(std::string_view name) const {
        return curves_.get(name, "curve");
    }
    [[nodiscard]] Result<std::shared_ptr<const volatility::VolSurface>> surface(std::string_view name) const {
        return surfaces_.get(name, "surface");
    }
    [[nodiscard]] Result<std::shared_ptr<const FxVols>> fx_vol(std::string_view name) const {
        return fx_vols_.get(name, "FX smile");
    }
    [[nodiscard]] Result<std::shared_ptr<const credit::CreditCurve>> credit_curve(std::string_view name) const {
        return credit_curves_.get(name, "credit curve");
    }
    [[nodiscard]] Result<std::shared_ptr<const RateVols>> rate_vol(std::string_view name) const {
        return rate_vols_.get(name, "rate vol");
    }
    [[nodiscard]] Result<double> fx(std::string_view pair) const { return fx_.rate(pair); }
    [[nodiscard]] Result<double> fixing(std::string_view index, dates::Serial date) const {
        return fixings_.rate(index, date);
    }

    [[nodiscard]] const NamedTable<curves::YieldCurve>& curves() const { return curves_; }
    [[nodiscard]] const NamedTable<volatility::VolSurface>& surfaces() const { return surfaces_; }
    [[nodiscard]] const NamedTable<FxVols>& fx_vols() const { return fx_vols_; }
    [[nodiscard]] const NamedTable<credit::CreditCurve>& credit_curves() const { return credit_curves_; }
    [[nodiscard]] const NamedTable<RateVols>& rate_vols() const { return rate_vols_; }
    [[nodiscard]] const FxTable& fx_spots() const { return fx_; }
    [[nodiscard]] const FixingTable& fixings() const { return fixings_; }

    friend bool operator==(const Market&, const Market&) = default;

private:
    dates::Serial reference_ = 0;
    NamedTable<curves::YieldCurve> curves_;
    NamedTable<volatility::VolSurface> surfaces_;
    FxTable fx_;
    FixingTable fixings_;
    NamedTable<FxVols> fx_vols_;
    NamedTable<credit::CreditCurve> credit_curves_;
    NamedTable<RateVols> rate_vols_;
};

}  // namespace quelm::book

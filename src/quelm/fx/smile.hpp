// An FX smile for one expiry built from the market's quotes: the at-the-money vol, and per
// delta a risk reversal and a butterfly (vols in absolute units, 0.01 = 1 %). The butterfly
// is the market (broker) strangle, solved so that the smile reprices it, or the smile
// strangle taken as it is. Between the pillars: vanna-volga (Castagna-Mercurio, second
// order), SABR (beta 1) fitted to the pillars, or a natural cubic spline of the vol in the
// forward call delta. Units as in garman_kohlhagen.hpp.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "quelm/core/choice.hpp"
#include "quelm/core/error.hpp"
#include "quelm/core/math/interpolate.hpp"
#include "quelm/fx/delta.hpp"
#include "quelm/fx/garman_kohlhagen.hpp"
#include "quelm/pricing/option.hpp"
#include "quelm/volatility/sabr.hpp"

namespace quelm::fx {

// market: the butterfly is the market strangle's vol spread over ATM, its strikes struck at
// ATM + bf; smile: the smile's own (sigma_call + sigma_put) / 2 - ATM.
enum class Strangle : unsigned char { Market, Smile };
inline constexpr Choices<Strangle, 2> kStrangles{
    "strangle", Listing::Quoted, {{{"market", Strangle::Market}, {"smile", Strangle::Smile}}}};

enum class SmileInterp : unsigned char { VannaVolga, Sabr, SplineInDelta };
inline constexpr Choices<SmileInterp, 3> kSmileInterps{
    "interpolation",
    Listing::Quoted,
    {{{"vanna-volga", SmileInterp::VannaVolga}, {"sabr", SmileInterp::Sabr},
      {"spline-in-delta", SmileInterp::SplineInDelta}}},
    true,
    true};

struct SmileQuotes {
    double spot, t, domestic_rate, foreign_rate, atm_vol;
    std::vector<double> deltas, rr, bf;  // one each per delta, deltas in (0, 0.5), distinct
    DeltaType delta_type = DeltaType::Spot;
    AtmType atm_type = AtmType::Dns;
    Strangle strangle = Strangle::Market;
    SmileInterp interpolation = SmileInterp::VannaVolga;
    friend bool operator==(const SmileQuotes&, const SmileQuotes&) = default;
};

class FxSmile {
public:
    [[nodiscard]] static Result<FxSmile> from_quotes(SmileQuotes q);

    // The vol at a strike (> 0).
    [[nodiscard]] Result<double> vol(double strike) const;
    // The vol of the option whose delta (in the smile's delta type, with its own vol) is
    // `delta`: a put's delta negative.
    [[nodiscard]] Result<double> vol_at_delta(double delta, OptionType type) const;
    // The strike of that option.
    [[nodiscard]] Result<double> strike_at_delta(double delta, OptionType type) const;

    // The pillars in increasing strike: the puts (largest delta size last), ATM, the calls.
    [[nodiscard]] std::span<const double> strikes() const { return strikes_; }
    [[nodiscard]] std::span<const double> vols() const { return vols_; }
    // Per delta, the smile strangle (sigma_call + sigma_put) / 2 - ATM the smile has.
    [[nodiscard]] std::span<const double> smile_strangles() const { return smile_bf_; }
    [[nodiscard]] const SmileQuotes& quotes() const { return q_; }
    [[nodiscard]] double forward() const { return forward_; }
    [[nodiscard]] FxMarket market(double vol) const {
        return {q_.spot, q_.domestic_rate, q_.foreign_rate, vol, q_.t};
    }

    // Vanna-volga, SABR and spline vols on the pillars as they stand (no checks).
    [[nodiscard]] double vol_unchecked(double strike) const;

    friend bool operator==(const FxSmile& a, const FxSmile& b) { return a.q_ == b.q_; }

private:
    FxSmile() = default;
    // Sets the pillars from the smile strangles given (one per delta) and fits the
    // interpolation to them.
    [[nodiscard]] Status set_pillars(std::span<const double> smile_bf);
    [[nodiscard]] Status solve_market_strangles();

    // The pillar strike of delta i (a put when `put`) at vol v: for an unadjusted delta from
    // its d1, taken once.
    [[nodiscard]] Result<double> pillar_strike(std::size_t i, bool put, double v) const;

    SmileQuotes q_;
    std::vector<double> call_d1_, put_d1_;  // per delta, unadjusted delta types only
    double forward_ = 0.0;
    std::vector<double> strikes_, vols_, smile_bf_;
    // The pillars' forward call deltas (increasing) and vols: the spline's nodes.
    std::vector<double> node_deltas_, node_vols_;
    std::vector<NaturalCubicSpline> spline_;  // empty, or the one spline
    volatility::SabrParams sabr_{};
};

}  // namespace quelm::fx

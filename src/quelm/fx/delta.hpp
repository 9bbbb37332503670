// FX delta conventions and the strikes they quote: a delta in one of the four market
// conventions, the strike with a given delta (premium-adjusted deltas solved to the last
// bits), and the at-the-money strikes. Units as in garman_kohlhagen.hpp.
#pragma once

#include "quelm/core/choice.hpp"
#include "quelm/core/error.hpp"
#include "quelm/fx/garman_kohlhagen.hpp"
#include "quelm/pricing/option.hpp"

namespace quelm::fx {

// spot: e^(-rf t) theta N(theta d1); forward: theta N(theta d1); the "-pa" forms are
// premium-adjusted, theta (K / F) N(theta d2) times e^(-rf t) for spot.
enum class DeltaType : unsigned char { Spot, Forward, SpotPa, ForwardPa };
inline constexpr Choices<DeltaType, 4> kDeltaTypes{
    "delta_type",
    Listing::Quoted,
    {{{"spot", DeltaType::Spot}, {"forward", DeltaType::Forward}, {"spot-pa", DeltaType::SpotPa},
      {"forward-pa", DeltaType::ForwardPa}}},
    true,
    true};

// dns: the delta-neutral straddle (call and put deltas cancel, in the delta type given);
// forward: K = F; spot: K = S.
enum class AtmType : unsigned char { Dns, Forward, Spot };
inline constexpr Choices<AtmType, 3> kAtmTypes{
    "atm_type", Listing::Quoted, {{{"dns", AtmType::Dns}, {"forward", AtmType::Forward}, {"spot", AtmType::Spot}}}};

[[nodiscard]] constexpr bool premium_adjusted(DeltaType d) {
    return d == DeltaType::SpotPa || d == DeltaType::ForwardPa;
}
[[nodiscard]] const char* delta_type_name(DeltaType d);

// A delta from the Greeks' four.
[[nodiscard]] double delta_of(const FxGreeks& g, DeltaType d);

// spot > 0, then garman_kohlhagen's checks; NaN passes.
[[nodiscard]] Result<double> fx_delta(const FxMarket& m, double strike, OptionType type, DeltaType d);

// The strike whose delta is `delta` (spot > 0, vol > 0, t > 0). Without premium adjustment
// the inversion is closed. A premium-adjusted put delta falls strictly with the strike, so
// its strike is unique. A premium-adjusted call delta rises from 0 to a maximum and falls
// back to 0: a delta below the maximum has two strikes, and the one above the maximising
// strike (the branch whose delta falls with the strike, as a call's should) is returned; a
// delta above the maximum is an error.
[[nodiscard]] Result<double> fx_strike_from_delta(double delta, const FxMarket& m, OptionType type, DeltaType d);

// The unadjusted inversion in two steps: d1 of the delta (which the vol does not change),
// then the strike F e^(-d1 s + s^2 / 2) at total deviation s. A smile that tries many vols
// for one delta takes the quantile once.
[[nodiscard]] Result<double> d1_of_delta(double delta, const FxMarket& m, OptionType type, DeltaType d);
[[nodiscard]] double strike_of_d1(double forward, double d1, double s);

// The largest premium-adjusted call delta and its strike (spot, vol, t > 0).
struct MaxDelta {
    double strike, delta;
};
[[nodiscard]] MaxDelta max_pa_call_delta(const FxMarket& m, DeltaType d);

// The at-the-money strike (spot > 0, vol >= 0, t >= 0): F e^(s^2 / 2) for a delta-neutral
// straddle in an unadjusted delta, F e^(-s^2 / 2) in a premium-adjusted one
// (s = vol sqrt(t)), F or S.
[[nodiscard]] Result<double> fx_atm_strike(const FxMarket& m, AtmType atm, DeltaType d);

}  // namespace quelm::fx

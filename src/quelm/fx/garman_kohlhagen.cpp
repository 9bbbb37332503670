#include "quelm/fx/garman_kohlhagen.hpp"

#include <cmath>

#include "quelm/core/math/distributions.hpp"
#include "quelm/core/math/elementary.hpp"
#include "quelm/fx/delta_terms.hpp"
#include "quelm/pricing/black/black_scholes.hpp"
#include "quelm/pricing/vanilla/greeks.hpp"
#include "quelm/pricing/vanilla/higher_greeks.hpp"

namespace quelm::fx {

namespace {

// The foreign rate is the dividend yield of the Black-Scholes-Merton engines.
Vanilla as_vanilla(const FxMarket& m, double strike, OptionType type) {
    return vanilla(m.spot, strike, m.domestic_rate, m.vol, m.t, type, m.foreign_rate);
}

}  // namespace

double forward_of(const FxMarket& m) { return m.spot * quelm::exp((m.domestic_rate - m.foreign_rate) * m.t); }

Result<double> garman_kohlhagen(const FxMarket& m, double strike, OptionType type) {
    const Vanilla v = as_vanilla(m, strike, type);
    return pricing::black_scholes(v.contract, v.market);
}

Result<double> fx_forward(double spot, double t, double domestic_rate, double foreign_rate) {
    if (spot < 0.0) return invalid("spot must be >= 0");
    if (t < 0.0) return invalid("time to expiry must be >= 0");
    return forward_of({spot, domestic_rate, foreign_rate, 0.0, t});
}

Result<FxGreeks> fx_greeks(const FxMarket& m, double strike, OptionType type) {
    if (m.spot <= 0.0) return invalid("spot must be > 0");
    const Vanilla v = as_vanilla(m, strike, type);
    QUELM_TRY(price, pricing::black_scholes(v.contract, v.market));
    QUELM_TRY(g, greeks::analytic_greeks(v.contract, v.market));
    QUELM_TRY(h, greeks::higher_greeks(v.contract, v.market));
    const FourDeltas d = four_deltas(m, strike, type);
    return FxGreeks{.price = price,
                    .spot_delta = d.spot,
                    .forward_delta = d.forward,
                    .spot_delta_pa = d.spot_pa,
                    .forward_delta_pa = d.forward_pa,
                    .gamma = g.gamma,
                    .vega = g.vega,
                    .theta = g.theta,
                    .rho_domestic = g.rho,
                    .rho_foreign = -m.t * m.spot * d.spot,
                    .vanna = h.vanna,
                    .volga = h.volga};
}

}  // namespace quelm::fx

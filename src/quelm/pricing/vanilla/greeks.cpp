#include "quelm/pricing/vanilla/greeks.hpp"

#include <cmath>

#include "quelm/core/math/elementary.hpp"
#include "quelm/pricing/vanilla/vanilla_lanes.hpp"

namespace quelm::greeks {

Result<Greeks> analytic_greeks(const OptionContract& contract, const MarketInputs& market) {
    const auto [s, k, t, r, q, sigma, call] = vanilla_terms(contract, market);

    QUELM_CHECK(validate_vanilla(k, s, sigma, t));
    if (any_nan(market, k, t)) return Greeks{kNaN, kNaN, kNaN, kNaN, kNaN};

    if (s == 0.0 || t == 0.0 || sigma == 0.0) {
        double delta = 0.0;
        if (t == 0.0) {
            if (call) delta = s > k ? 1.0 : 0.0;
            else delta = s < k ? -1.0 : 0.0;
        } else if (s != 0.0) {  // sigma == 0 with a positive spot
            const double dq = discount_factor(q, t);
            const double forward = s * quelm::exp((r - q) * t);
            if (call) delta = forward > k ? dq : 0.0;
            else delta = forward < k ? -dq : 0.0;
        }
        return Greeks{delta, 0.0, 0.0, 0.0, 0.0};
    }

    const VanillaLanes<double> in = vanilla_lanes(contract, market);
    const VanillaSetup<double> u = vanilla_setup(in);
    const GreeksLanes<double> g = vanilla_greeks(in, u, vanilla_at(u, in.vol, in.theta));
    return Greeks{g.delta, g.gamma, g.vega, g.theta, g.rho};
}

}  // namespace quelm::greeks

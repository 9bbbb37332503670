#include "quelm/pricing/black/black_scholes.hpp"

#include "quelm/core/math/elementary.hpp"
#include "quelm/pricing/vanilla/vanilla_lanes.hpp"

namespace quelm::pricing {

Result<double> black_scholes(const OptionContract& contract, const MarketInputs& market) {
    const auto [s, k, t, r, q, sigma, call] = vanilla_terms(contract, market);

    QUELM_CHECK(validate_vanilla(k, s, sigma, t));
    if (any_nan(market, k, t)) return kNaN;

    if (t == 0.0) return payoff(contract.option_type, s, k);
    const double dr = discount_factor(r, t);
    if (s == 0.0) return call ? 0.0 : k * dr;
    if (sigma == 0.0) {
        const double forward = s * quelm::exp((r - q) * t);
        return dr * payoff(contract.option_type, forward, k);
    }
    const VanillaLanes<double> in = vanilla_lanes(contract, market);
    const VanillaSetup<double> u = vanilla_setup(in);
    return vanilla_price(u, vanilla_at(u, in.vol, in.theta), in.theta);
}

}  // namespace quelm::pricing

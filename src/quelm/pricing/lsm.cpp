#include "quelm/pricing/lsm.hpp"

#include <vector>

#include "quelm/core/math/regression.hpp"
#include "quelm/core/memory.hpp"
#include "quelm/core/random.hpp"
#include "quelm/pricing/american_mc.hpp"

namespace quelm::pricing {

Result<PriceEstimate> lsm_american(const OptionContract& o, const MarketInputs& m, const LsmSettings& s,
                                   Cancel& cancel) {
    QUELM_CHECK(validate_american(o, m, s.paths, s.steps));
    if (any_nan(m, o.strike, o.expiry)) return PriceEstimate{kNaN, kNaN};
    if (nothing_random(o, m)) return forward_exercise_value(o, m, s.steps, cancel);
    // The paths, each path's cash flow, and the pair values.
    const double n_wanted = 2.0 * static_cast<double>(pair_count(s.paths));
    QUELM_TRY(memory, claim_memory(doubles_bytes(n_wanted * (static_cast<double>(s.steps) + 1.0) + n_wanted / 2.0),
                                   "the Longstaff-Schwartz paths"));
    QUELM_TRY(set, simulate_gbm_paths(m, o.expiry, s.paths, s.steps, s.seed, cancel));
    std::vector<double> cash = terminal_cash(set, o, m.rate);
    InTheMoney itm;
    CancelPoller poller(cancel);
    for (std::size_t i = set.steps; i-- > 1;) {
        if (poller.check()) return cancelled();
        QUELM_CHECK(collect_in_the_money(set, i, o, cash, itm, poller));
        if (itm.paths.size() <= 2) continue;
        QUELM_TRY(c, poly_least_squares(itm.moneyness, itm.cash, 2));
        const double di = date_discount(set, i, m.rate);
        const double* at = set.date(i);
        for (std::size_t k = 0; k < itm.paths.size(); ++k) {
            const double x = itm.moneyness[k];
            const double continuation = (c[2] * x + c[1]) * x + c[0];
            const double exercise = payoff(o.option_type, at[itm.paths[k]], o.strike) * di;
            if (continuation < exercise) cash[itm.paths[k]] = exercise;
        }
    }
    return pair_estimate(cash, payoff(o.option_type, m.spot, o.strike), cancel);
}

}  // namespace quelm::pricing

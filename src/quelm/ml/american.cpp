#include "quelm/ml/american.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "quelm/core/memory.hpp"
#include "quelm/core/random.hpp"
#include "quelm/ml/mlp.hpp"
#include "quelm/ml/train_loop.hpp"
#include "quelm/pricing/binomial.hpp"

namespace quelm::ml {

Status check_settings(const OptionContract& o, const MarketInputs& m, const AmericanSettings& s) {
    QUELM_CHECK(check_hidden(s.hidden));
    if (s.epochs == 0) return invalid("epochs must be >= 1");
    return pricing::validate_american(o, m, s.paths, s.steps);
}

Result<AmericanReport> american_report(const char* method, const OptionContract& o, const MarketInputs& m,
                                       const AmericanSettings& s, const Result<PriceEstimate>& estimate,
                                       Cancel& cancel) {
    if (!estimate) return std::unexpected(estimate.error());
    const PriceEstimate& e = *estimate;
    QUELM_TRY(tree, pricing::binomial(o, m, {.style = pricing::ExerciseStyle::American, .steps = 2000}, cancel));
    return AmericanReport{method, o.option_type, m.spot, o.strike, m.rate, m.vol, o.expiry,
                          e.price, e.standard_error, tree, std::fabs(e.price - tree), s.paths, s.steps, s.epochs};
}

Result<AmericanStart> american_start(const OptionContract& o, const MarketInputs& m, const AmericanSettings& s,
                                     Cancel& cancel) {
    QUELM_CHECK(check_settings(o, m, s));
    AmericanStart start;
    if (any_nan(m, o.strike, o.expiry)) {
        start.answer = PriceEstimate{kNaN, kNaN};
        return start;
    }
    if (pricing::nothing_random(o, m)) {
        QUELM_TRY(still, pricing::forward_exercise_value(o, m, s.steps, cancel));
        start.answer = still;
        return start;
    }
    // One path set with each path's cash flow, and the network the engine trains.
    const double n_paths = 2.0 * static_cast<double>(pair_count(s.paths));
    const double slots = static_cast<double>(block_width(static_cast<std::size_t>(
        std::min<std::uint64_t>(s.paths, std::numeric_limits<std::size_t>::max()))));
    QUELM_TRY(claim, claim_memory(
        doubles_bytes(n_paths * (static_cast<double>(s.steps) + 2.0)) + training_bytes(1, s.hidden, slots),
        "the American paths and network"));
    start.memory = std::move(claim);
    QUELM_TRY(paths, pricing::simulate_gbm_paths(m, o.expiry, s.paths, s.steps, s.seed, cancel));
    start.cash = pricing::terminal_cash(paths, o, m.rate);
    start.paths = std::move(paths);
    return start;
}

}  // namespace quelm::ml

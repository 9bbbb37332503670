#include "quelm/ml/american.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "quelm/core/math/sample.hpp"
#include "quelm/core/memory.hpp"
#include "quelm/core/parallel.hpp"
#include "quelm/core/random.hpp"
#include "quelm/core/sizes.hpp"
#include "quelm/ml/train.hpp"
#include "quelm/ml/train_loop.hpp"
#include "quelm/pricing/binomial.hpp"

namespace quelm::ml {

Status validate_inputs(const MarketInputs& m, double strike, double maturity, std::uint64_t paths,
                       std::uint64_t steps) {
    if (strike <= 0.0) return invalid("strike must be > 0");
    if (m.spot < 0.0) return invalid("spot must be >= 0");
    if (m.vol < 0.0) return invalid("volatility must be >= 0");
    if (maturity < 0.0) return invalid("time to expiry must be >= 0");
    if (paths == 0) return invalid("paths must be >= 1");
    if (steps == 0) return invalid("steps must be >= 1");
    return {};
}

Status check_config(const AmericanConfig& c) {
    QUELM_CHECK(check_hidden(c.hidden));
    if (c.epochs == 0) return invalid("epochs must be >= 1");
    return validate_inputs(c.market, c.strike, c.maturity, c.paths, c.steps);
}

Result<std::optional<PathSet>> simulate_paths(const MarketInputs& m, std::uint64_t paths, std::uint64_t steps,
                                              std::uint64_t seed, double maturity, Cancel& cancel) {
    if (paths == 0) return invalid("paths must be >= 1");
    if (steps == 0) return invalid("steps must be >= 1");
    PathSet set;
    set.steps = steps;
    set.dt = maturity / static_cast<double>(steps);
    const double drift = (-0.5 * m.vol * m.vol + (m.rate - m.dividend_yield)) * set.dt;
    const double vs = std::sqrt(set.dt) * m.vol;
    const double l0 = std::log(m.spot);
    const std::uint64_t pairs = paths - paths / 2;
    set.n_paths = checked_mul(checked_count(pairs), 2);
    const std::size_t len = checked_add(checked_count(steps), 1);
    // Every entry is written by its pair's worker.
    set.values = DoubleBuffer(checked_count(checked_mul(set.n_paths, len)));
    const double spot = m.spot;
    const bool done = parallel_for(static_cast<std::size_t>(pairs), [&](std::size_t begin, std::size_t end) {
        for (std::size_t k = begin; k < end; ++k) {
            SmallRng rng = seed_from_u64(derive_seed(seed, k));
            double* up = set.values.data() + 2 * k * len;
            double* down = up + len;
            up[0] = spot;
            down[0] = spot;
            double u = l0, d = l0;
            for (std::size_t j = 1; j < len; ++j) {
                const double z = standard_normal(rng);
                u = u + (drift + z * vs);
                d = d + (drift - z * vs);
                up[j] = std::exp(u);
                down[j] = std::exp(d);
                if ((j & 4095) == 0 && chunk_stopped()) return;
            }
        }
    }, cancel);
    if (!done) return std::optional<PathSet>{};
    return std::optional<PathSet>{std::move(set)};
}

std::optional<Estimate> degenerate_value(OptionType type, const AmericanConfig& c, Cancel& cancel) {
    const MarketInputs& m = c.market;
    if (!(m.spot == 0.0 || c.maturity == 0.0 || m.vol == 0.0)) return std::nullopt;
    const double dt = c.maturity / static_cast<double>(c.steps);
    double best = payoff(type, m.spot, c.strike);
    CancelPoller poller(cancel);
    for (std::uint64_t i = 1; i <= c.steps; ++i) {
        if (poller.tick()) break;
        const double ti = static_cast<double>(i) * dt;
        const double fwd = std::exp((m.rate - m.dividend_yield) * ti) * m.spot;
        best = std::max(best, payoff(type, fwd, c.strike) * std::exp(ti * (-m.rate)));
    }
    return Estimate{best, 0.0};
}

Estimate pair_estimate(std::span<const double> cash, double immediate) {
    std::vector<double> v(cash.size() / 2);
    for (std::size_t k = 0; k < v.size(); ++k) v[k] = (cash[2 * k] + cash[2 * k + 1]) * 0.5;
    const MeanSe ms = mean_and_se(v);
    if (immediate > ms.mean) return {immediate, 0.0};
    return {ms.mean, ms.standard_error};
}

Result<AmericanReport> american_report(const char* method, OptionType type, const AmericanConfig& c,
                                       const Estimate& e, Cancel& cancel) {
    const auto tree =
        pricing::binomial(type, pricing::ExerciseStyle::American, c.market, 2000, c.strike, c.maturity, cancel);
    if (cancel.stopped()) return cancelled();
    if (!tree) return std::unexpected(tree.error());
    return AmericanReport{method, type, c.market.spot, c.strike, c.market.rate, c.market.vol, c.maturity,
                          e.price, e.standard_error, *tree, std::fabs(e.price - *tree), c.paths, c.steps, c.epochs};
}

Result<AmericanStart> american_start(OptionType type, const AmericanConfig& c, Cancel& cancel) {
    QUELM_CHECK(check_config(c));
    AmericanStart start;
    if (any_nan(c.market, c.strike, c.maturity)) {
        start.answer = Estimate{kNaN, kNaN};
        return start;
    }
    start.answer = degenerate_value(type, c, cancel);
    if (cancel.stopped()) return cancelled();
    if (start.answer) return start;
    // One path set with each path's cash flow, and the network the engine trains.
    const double n_paths = 2.0 * static_cast<double>(c.paths - c.paths / 2);
    const double slots = static_cast<double>(block_width(static_cast<std::size_t>(
        std::min<std::uint64_t>(c.paths, std::numeric_limits<std::size_t>::max()))));
    QUELM_CHECK(check_fits_in_memory(
        doubles_bytes(n_paths * (static_cast<double>(c.steps) + 2.0)) + training_bytes(1, c.hidden, slots),
        "the American paths and network"));
    QUELM_TRY(sim, simulate_paths(c.market, c.paths, c.steps, c.seed, c.maturity, cancel));
    if (!sim) return cancelled();
    start.paths = std::move(*sim);
    const std::size_t M = static_cast<std::size_t>(c.steps);
    start.cash.resize(start.paths.n_paths);
    const double disc_T = std::exp(c.maturity * (-c.market.rate));
    for (std::size_t p = 0; p < start.cash.size(); ++p) {
        start.cash[p] = payoff(type, start.paths.path(p)[M], c.strike) * disc_T;
    }
    return start;
}

}  // namespace quelm::ml

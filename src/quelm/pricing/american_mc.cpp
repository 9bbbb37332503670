#include "quelm/pricing/american_mc.hpp"

#include <cmath>

#include "quelm/core/math/elementary.hpp"
#include "quelm/core/math/sample.hpp"
#include "quelm/core/parallel.hpp"
#include "quelm/core/random.hpp"
#include "quelm/core/sizes.hpp"
#include "quelm/pricing/monte_carlo.hpp"

namespace quelm::pricing {

Status validate_american(const OptionContract& o, const MarketInputs& m, std::uint64_t paths, std::uint64_t steps) {
    QUELM_CHECK(validate_monte_carlo(o, m, paths));
    if (steps == 0) return invalid("steps must be >= 1");
    return {};
}

bool nothing_random(const OptionContract& o, const MarketInputs& m) {
    return m.spot == 0.0 || o.expiry == 0.0 || m.vol == 0.0;
}

Result<PriceEstimate> forward_exercise_value(const OptionContract& o, const MarketInputs& m, std::uint64_t steps,
                                             Cancel& cancel) {
    const double S = m.spot, K = o.strike, r = m.rate;
    const double dt = o.expiry / static_cast<double>(steps);
    double best = payoff(o.option_type, S, K);
    CancelPoller poller(cancel);
    for (std::uint64_t j = 1; j <= steps; ++j) {
        if (poller.tick()) return cancelled();
        const double tj = static_cast<double>(j) * dt;
        const double value = payoff(o.option_type, S * quelm::exp(tj * (r - m.dividend_yield)), K) * quelm::exp(tj * (-r));
        if (value > best) best = value;
    }
    return PriceEstimate{best, 0.0};
}

Result<GbmPaths> simulate_gbm_paths(const MarketInputs& m, double expiry, std::uint64_t paths, std::uint64_t steps,
                                    std::uint64_t seed, Cancel& cancel) {
    GbmPaths set;
    set.steps = checked_count(steps);
    set.dt = expiry / static_cast<double>(steps);
    const std::uint64_t pairs = pair_count(paths);
    set.n_paths = checked_mul(checked_count(pairs), 2);
    const std::size_t n = set.n_paths, M = set.steps;
    // Every entry is written by its pair's worker.
    set.values = DoubleBuffer(checked_count(checked_mul(n, checked_add(M, 1))));
    const double sigma = m.vol;
    const double drift = ((m.rate - m.dividend_yield) + (-0.5 * sigma) * sigma) * set.dt;
    const double diff = std::sqrt(set.dt) * sigma;
    const double l0 = quelm::log(m.spot);
    double* const base = set.values.data();
    const bool done = parallel_for(static_cast<std::size_t>(pairs), [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) {
            Xoshiro256pp rng = keyed_stream(seed, i);
            double* at = base + 2 * i;
            at[0] = m.spot;
            at[1] = m.spot;
            double lu = l0, ld = l0;
            for (std::size_t k = 1; k <= M; ++k) {
                at += n;
                const double z = standard_normal(rng);
                lu = lu + (drift + z * diff);
                ld = ld + (drift - z * diff);
                at[0] = quelm::exp(lu);
                at[1] = quelm::exp(ld);
                if ((k & 4095) == 0 && chunk_stopped()) return;
            }
        }
    }, cancel);
    if (!done) return cancelled();
    return set;
}

double date_discount(const GbmPaths& set, std::size_t j, double rate) {
    return quelm::exp((static_cast<double>(j) * set.dt) * (-rate));
}

std::vector<double> terminal_cash(const GbmPaths& set, const OptionContract& o, double rate) {
    std::vector<double> cash(set.n_paths);
    const double disc = quelm::exp(-rate * o.expiry);
    const double* last = set.date(set.steps);
    for (std::size_t p = 0; p < cash.size(); ++p) cash[p] = payoff(o.option_type, last[p], o.strike) * disc;
    return cash;
}

Status collect_in_the_money(const GbmPaths& set, std::size_t date, const OptionContract& o,
                            std::span<const double> cash, InTheMoney& out, CancelPoller& poller) {
    out.paths.clear();
    out.moneyness.clear();
    out.cash.clear();
    const double* at = set.date(date);
    for (std::size_t p = 0; p < set.n_paths; ++p) {
        if (poller.tick()) return cancelled();
        const double price = at[p];
        if (payoff(o.option_type, price, o.strike) > 0.0) {
            out.paths.push_back(p);
            out.moneyness.push_back(price / o.strike);
            out.cash.push_back(cash[p]);
        }
    }
    return {};
}

Result<PriceEstimate> pair_estimate(std::span<const double> cash, double immediate, Cancel& cancel) {
    std::vector<double> values(cash.size() / 2);
    for (std::size_t k = 0; k < values.size(); ++k) values[k] = (cash[2 * k] + cash[2 * k + 1]) * 0.5;
    CancelPoller poller(cancel);
    QUELM_TRY(ms, mean_and_se(values, poller));
    if (immediate > ms.mean) return PriceEstimate{immediate, 0.0};
    return PriceEstimate{ms.mean, ms.standard_error};
}

}  // namespace quelm::pricing

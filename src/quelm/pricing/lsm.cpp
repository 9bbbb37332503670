#include "quelm/pricing/lsm.hpp"

#include <cmath>
#include <vector>

#include "quelm/core/math/regression.hpp"
#include "quelm/core/buffer.hpp"
#include "quelm/core/math/sample.hpp"
#include "quelm/core/memory.hpp"
#include "quelm/core/parallel.hpp"
#include "quelm/core/random.hpp"
#include "quelm/core/sizes.hpp"

namespace quelm::pricing {

Result<McResult> lsm_american(OptionType type, const MarketInputs& m, const LsmSettings& s, double strike,
                              double expiry, Cancel& cancel) {
    QUELM_CHECK(validate_inputs(strike, m.spot, m.vol, expiry, s.paths));
    if (s.steps == 0) return invalid("steps must be >= 1");
    const double S = m.spot, K = strike, T = expiry, r = m.rate, q = m.dividend_yield, sigma = m.vol;
    if (any_nan(m, K, T)) return McResult{kNaN, kNaN};
    const double dt = T / static_cast<double>(s.steps);
    if (S == 0.0 || T == 0.0 || sigma == 0.0) {
        double best = payoff(type, S, K);
        CancelPoller poller(cancel);
        for (std::uint64_t j = 1; j <= s.steps; ++j) {
            if (poller.tick()) return cancelled();
            const double tj = static_cast<double>(j) * dt;
            const double value = payoff(type, S * std::exp(tj * (r - q)), K) * std::exp(tj * (-r));
            if (value > best) best = value;
        }
        return McResult{best, 0.0};
    }
    const std::uint64_t pairs = s.paths - s.paths / 2;
    // The paths, each path's cash flow, and the pair values.
    const double n_wanted = 2.0 * static_cast<double>(pairs);
    QUELM_CHECK(check_fits_in_memory(doubles_bytes(n_wanted * (static_cast<double>(s.steps) + 1.0) + n_wanted / 2.0),
                                     "the Longstaff-Schwartz paths"));
    const std::size_t n_paths = checked_mul(checked_count(pairs), 2);
    // Date-major layout: the backward pass scans every path at one date, so that row is
    // contiguous. Date 0 (all at the spot) is never read, so it is not stored.
    const std::size_t M = checked_count(s.steps);
    // Every entry is written by its pair's worker.
    DoubleBuffer paths(checked_count(checked_mul(n_paths, M)));
    const double drift = ((r - q) + (-0.5 * sigma) * sigma) * dt;
    const double diff = std::sqrt(dt) * sigma;
    const double l0 = std::log(S);
    const std::uint64_t seed = s.seed;
    double* const base = paths.data();
    const bool done = parallel_for(static_cast<std::size_t>(pairs), [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) {
            SmallRng rng = seed_from_u64(derive_seed(seed, i));
            double* at = base + 2 * i;
            double lu = l0, ld = l0;
            for (std::size_t k = 1; k <= M; ++k, at += n_paths) {
                const double z = standard_normal(rng);
                lu = lu + (drift + z * diff);
                ld = ld + (drift - z * diff);
                at[0] = std::exp(lu);
                at[1] = std::exp(ld);
                if ((k & 4095) == 0 && chunk_stopped()) return;
            }
        }
    }, cancel);
    if (!done) return cancelled();
    auto row = [&](std::size_t k) { return base + (k - 1) * n_paths; };

    std::vector<double> cash(n_paths);
    const double disc_T = std::exp(-r * T);
    const double* last = row(M);
    for (std::size_t p = 0; p < n_paths; ++p) cash[p] = payoff(type, last[p], K) * disc_T;
    std::vector<std::size_t> itm;
    std::vector<double> xs, ys;
    CancelPoller poller(cancel);
    for (std::size_t i = M; i-- > 1;) {
        if (poller.check()) return cancelled();
        const double di = std::exp((static_cast<double>(i) * dt) * (-r));
        itm.clear();
        xs.clear();
        ys.clear();
        const double* at = row(i);
        for (std::size_t p = 0; p < n_paths; ++p) {
            if (poller.tick()) return cancelled();
            const double price = at[p];
            if (payoff(type, price, K) > 0.0) {
                itm.push_back(p);
                xs.push_back(price / K);
                ys.push_back(cash[p]);
            }
        }
        if (itm.size() <= 2) continue;
        QUELM_TRY(c, poly_least_squares(xs, ys, 2));
        for (std::size_t k = 0; k < itm.size(); ++k) {
            const double x = xs[k];
            const double continuation = (c[2] * x + c[1]) * x + c[0];
            const double exercise = payoff(type, at[itm[k]], K) * di;
            if (continuation < exercise) cash[itm[k]] = exercise;
        }
    }
    std::vector<double> values(static_cast<std::size_t>(pairs));
    for (std::size_t k = 0; k < values.size(); ++k) values[k] = (cash[2 * k] + cash[2 * k + 1]) * 0.5;
    const MeanSe ms = mean_and_se(values, poller);
    if (poller.stopped()) return cancelled();
    const double e0 = payoff(type, S, K);
    if (ms.mean < e0) return McResult{e0, 0.0};
    return McResult{ms.mean, ms.standard_error};
}

}  // namespace quelm::pricing

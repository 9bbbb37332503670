#include "quelm/pricing/monte_carlo.hpp"

#include <cmath>
#include <memory>
#include <span>

#include "quelm/core/math/elementary.hpp"
#include "quelm/core/math/sample.hpp"
#include "quelm/core/memory.hpp"
#include "quelm/core/parallel.hpp"
#include "quelm/core/random.hpp"
#include "quelm/core/simd.hpp"
#include "quelm/core/sizes.hpp"

namespace quelm::pricing {

namespace {

// One chunk of pairs: the normals z[0..n) in, the pair values out, lanes of the SIMD width
// (each lane does the scalar operations, so the values do not depend on the width).
struct PairChunk {
    const double* z;
    std::size_t n;
    double spot, strike, drift, diff;
    bool call;
    double* out;
};

template <class V>
V pair_value(const PairChunk& c, V z) {
    const V up = c.spot * exp_lanes<V>(c.drift + c.diff * z);
    const V down = c.spot * exp_lanes<V>(c.drift - c.diff * z);
    const V pu = c.call ? up - c.strike : c.strike - up;
    const V pd = c.call ? down - c.strike : c.strike - down;
    const V zero = lanes::splat<V>(0.0);
    return 0.5 * (lanes::select(pd > 0.0, pd, zero) + lanes::select(pu > 0.0, pu, zero));
}

template <class V>
void pair_values(const PairChunk& c) {
    constexpr std::size_t w = static_cast<std::size_t>(lanes::size_v<V>);
    std::size_t j = 0;
    for (; j + w <= c.n; j += w) lanes::store(c.out + j, pair_value<V>(c, lanes::load<V>(c.z + j)));
    for (; j < c.n; ++j) c.out[j] = pair_value<double>(c, c.z[j]);
}

QUELM_SIMD_KERNEL(pair_values_at_width, pair_values)

}  // namespace

Status validate_monte_carlo(const OptionContract& o, const MarketInputs& m, std::uint64_t paths) {
    QUELM_CHECK(validate_vanilla(o.strike, m.spot, m.vol, o.expiry));
    if (paths == 0) return invalid("paths must be >= 1");
    return {};
}

Result<PriceEstimate> monte_carlo_european(const OptionContract& o, const MarketInputs& m,
                                           const MonteCarloSettings& s, Cancel& cancel) {
    QUELM_CHECK(validate_monte_carlo(o, m, s.paths));
    const double S = m.spot, K = o.strike, r = m.rate, q = m.dividend_yield, sigma = m.vol, T = o.expiry;
    if (any_nan(S, K, r, q, sigma, T)) return PriceEstimate{kNaN, kNaN};
    const double disc = quelm::exp(-r * T);
    if (S == 0.0 || T == 0.0 || sigma == 0.0) {
        // Nothing random is left: the discounted payoff on the forward.
        const double fwd = S * quelm::exp(T * (r - q));
        return PriceEstimate{disc * payoff(o.option_type, fwd, K), 0.0};
    }
    // An infinite volatility sends every path to 0 or infinity: no finite price exists.
    if (std::isinf(sigma)) return PriceEstimate{kNaN, kNaN};
    const double drift = ((r - q) + (-0.5 * sigma) * sigma) * T;
    const double diff = std::sqrt(T) * sigma;
    const std::uint64_t pairs = pair_count(s.paths);
    QUELM_TRY(memory, claim_memory(doubles_bytes(static_cast<double>(pairs)), "the Monte Carlo pair values"));
    // Left uninitialised: the workers' first writes fault its pages in parallel, where a
    // zero-filled vector would cost a serial pass over the whole buffer first.
    const std::size_t n_pairs = checked_count(pairs);
    const std::unique_ptr<double[]> values(new double[n_pairs]);
    const OptionType type = o.option_type;
    const std::uint64_t seed = s.seed;
    const bool done = parallel_for(n_pairs, [&](std::size_t begin, std::size_t end) {
        constexpr std::size_t kChunk = 64;
        double z[kChunk];
        for (std::size_t first = begin; first < end; first += kChunk) {
            const std::size_t m = end - first < kChunk ? end - first : kChunk;
            keyed_first_normals(seed, first, std::span<double>(z, m));
            const PairChunk chunk{z, m, S, K, drift, diff, type == OptionType::Call, values.get() + first};
            pair_values_at_width(chunk);
        }
    }, cancel);
    if (!done) return cancelled();
    CancelPoller poller(cancel);
    QUELM_TRY(ms, mean_and_se(std::span<const double>(values.get(), n_pairs), poller));
    return PriceEstimate{disc * ms.mean, disc * ms.standard_error};
}

}  // namespace quelm::pricing

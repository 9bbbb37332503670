#include "quelm/ml/dos.hpp"

#include <cmath>

#include "quelm/core/parallel.hpp"
#include "quelm/core/random.hpp"
#include "quelm/ml/stats.hpp"
#include "quelm/ml/train.hpp"
#include "quelm/ml/train_loop.hpp"

namespace quelm::ml {

namespace {
constexpr std::uint64_t kGolden = 0x9E3779B97F4A7C15ULL;

inline double stop_logistic(double o) {
    if (o >= 0.0) return 1.0 / (std::exp(-o) + 1.0);
    const double e = std::exp(o);
    return e / (e + 1.0);
}
}  // namespace

double StopNet::stop_prob(double x, Forward& f) const {
    const double in[1] = {(x - x_mean) / x_std};
    return stop_logistic(predict(net, in, f));
}

PolicyPayoff policy_payoff(const double* path, const StopRules& rules, std::vector<Forward>& scratch,
                           OptionType type, std::uint64_t steps, double strike, double rate, double dt,
                           double terminal_discount) {
    for (std::size_t i = 1; i < steps; ++i) {
        const auto& rule = rules[i];
        if (rule && rule->stop_prob(path[i] / strike, scratch[i]) > 0.5) {
            const double pay = payoff(type, path[i], strike);
            return {std::exp(dt * static_cast<double>(i) * (-rate)) * pay, pay};
        }
    }
    const double pay = payoff(type, path[steps], strike);
    return {terminal_discount * pay, pay};
}

Result<Estimate> dos_american(OptionType type, const AmericanConfig& c, Cancel& cancel) {
    QUELM_TRY(start, american_start(type, c, cancel));
    if (start.answer) return *start.answer;
    const MarketInputs& m = c.market;
    const double K = c.strike, r = m.rate;
    const PathSet& ps = start.paths;
    const std::size_t n = ps.n_paths;
    const std::size_t M = static_cast<std::size_t>(c.steps);
    std::vector<double>& cf = start.cash;
    const double disc_T = std::exp(c.maturity * (-r));

    StopRules rules(M);
    std::vector<double> xs(n), xn(n), ex(n), cont(n);
    for (std::size_t t = M; t-- > 1;) {
        if (cancel.poll()) return cancelled();
        const double disc = std::exp(static_cast<double>(t) * ps.dt * (-r));
        for (std::size_t p = 0; p < n; ++p) {
            const double s = ps.path(p)[t];
            xs[p] = s / K;
            ex[p] = payoff(type, s, K) * disc;
            cont[p] = cf[p];
        }
        const MeanStd xm = mean_std(xs);
        for (std::size_t p = 0; p < n; ++p) xn[p] = (xs[p] - xm.mean) / xm.std;
        SmallRng init = seed_from_u64(derive_seed(c.seed, ~(static_cast<std::uint64_t>(t) + 1)));
        StopNet rule{Mlp::create(1, c.hidden, init), xm.mean, xm.std};
        Mlp& net = rule.net;
        SmallRng order = seed_from_u64(derive_seed(c.seed, static_cast<std::uint64_t>(t) ^ 0xD05ULL));
        std::vector<ValueSlot> slots;
        make_slots(net, block_width(n), slots);
        const auto done = run_training_blocks(net, n, c.epochs, order, slots, [&](ValueSlot& sl, std::size_t p) {
            const double in[1] = {xn[p]};
            const double s = stop_logistic(predict(net, in, sl.f));
            const double e = ex[p], cv = cont[p];
            backward_value_adjoints(net, sl.f, (1.0 - s) * ((-(e - cv)) * s), sl.s);
            sl.loss = -(s * e + (1.0 - s) * cv);
        }, AccumulateSlot{&net}, cancel);
        if (!done) return cancelled();
        const bool applied = parallel_for(n, [&](std::size_t lo, std::size_t hi) {
            Forward f(rule.net);
            for (std::size_t p = lo; p < hi; ++p)
                if (rule.stop_prob(xs[p], f) > 0.5) cf[p] = ex[p];
        }, cancel);
        if (!applied) return cancelled();
        rules[t] = std::move(rule);
    }
    // Out of sample: the learned rules on an independent path set.
    QUELM_TRY(fresh, simulate_paths(m, c.paths, c.steps, mix64(c.seed + kGolden), c.maturity, cancel));
    if (!fresh) return cancelled();
    std::vector<double> value(fresh->n_paths);
    const bool valued = parallel_for(value.size(), [&](std::size_t lo, std::size_t hi) {
        std::vector<Forward> scratch;  // one workspace per rule, per chunk
        scratch.reserve(M);
        for (std::size_t t = 0; t < M; ++t) scratch.emplace_back(rules[t] ? Forward(rules[t]->net) : Forward(Mlp{}));
        for (std::size_t p = lo; p < hi; ++p)
            value[p] = policy_payoff(fresh->path(p), rules, scratch, type, c.steps, K, r, ps.dt, disc_T).discounted;
    }, cancel);
    if (!valued) return cancelled();
    return pair_estimate(value, payoff(type, m.spot, K));
}

Result<AmericanReport> dos_price(OptionType type, const AmericanConfig& c, Cancel& cancel) {
    QUELM_TRY(e, dos_american(type, c, cancel));
    return american_report("dos", type, c, e, cancel);
}

}  // namespace quelm::ml

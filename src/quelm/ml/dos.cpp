#include "quelm/ml/dos.hpp"

#include <cmath>

#include "quelm/core/math/elementary.hpp"
#include "quelm/core/parallel.hpp"
#include "quelm/core/random.hpp"
#include "quelm/ml/normalise.hpp"
#include "quelm/ml/train_loop.hpp"

namespace quelm::ml {

namespace {

inline double stop_logistic(double o) {
    if (o >= 0.0) return 1.0 / (quelm::exp(-o) + 1.0);
    const double e = quelm::exp(o);
    return e / (e + 1.0);
}
}  // namespace

double StopNet::stop_prob(double x, Forward& f) const {
    const double in[1] = {(x - x_mean) / x_std};
    return stop_logistic(predict(net, in, f));
}

PolicyPayoff policy_payoff(const pricing::GbmPaths& set, std::size_t p, const StopRules& rules,
                           std::vector<Forward>& scratch, const OptionContract& o, double rate,
                           double terminal_discount) {
    const OptionType type = o.option_type;
    const double strike = o.strike;
    for (std::size_t i = 1; i < set.steps; ++i) {
        const auto& rule = rules[i];
        const double s = set.at(p, i);
        if (rule && rule->stop_prob(s / strike, scratch[i]) > 0.5) {
            const double pay = payoff(type, s, strike);
            return {quelm::exp(set.dt * static_cast<double>(i) * (-rate)) * pay, pay};
        }
    }
    const double pay = payoff(type, set.at(p, set.steps), strike);
    return {terminal_discount * pay, pay};
}

Result<PriceEstimate> dos_american(const OptionContract& o, const MarketInputs& m, const AmericanSettings& s,
                                   Cancel& cancel) {
    QUELM_TRY(start, american_start(o, m, s, cancel));
    if (start.answer) return *start.answer;
    const OptionType type = o.option_type;
    const double K = o.strike, r = m.rate;
    const pricing::GbmPaths& ps = start.paths;
    const std::size_t n = ps.n_paths;
    const std::size_t M = ps.steps;
    std::vector<double>& cf = start.cash;
    const double disc_T = quelm::exp(o.expiry * (-r));

    StopRules rules(M);
    std::vector<double> xs(n), xn(n), ex(n), cont(n);
    for (std::size_t t = M; t-- > 1;) {
        if (cancel.poll()) return cancelled();
        const double disc = pricing::date_discount(ps, t, r);
        const double* at = ps.date(t);
        for (std::size_t p = 0; p < n; ++p) {
            const double spot = at[p];
            xs[p] = spot / K;
            ex[p] = payoff(type, spot, K) * disc;
            cont[p] = cf[p];
        }
        const MeanStd xm = normalise(xs, xn);
        Xoshiro256pp init = keyed_stream(s.seed, date_init_key(t));
        StopNet rule{Mlp::create(1, s.hidden, init), xm.mean, xm.std};
        Mlp& net = rule.net;
        Xoshiro256pp order = keyed_stream(s.seed, date_shuffle_key(t, kStoppingShuffleKey));
        std::vector<ValueSlot> slots;
        make_slots(net, block_width(n), slots);
        QUELM_CHECK(run_training_blocks(net, n, s.epochs, order, slots, [&](ValueSlot& sl, std::size_t p) {
            const double in[1] = {xn[p]};
            const double stop = stop_logistic(predict(net, in, sl.f));
            const double e = ex[p], cv = cont[p];
            backward_value_adjoints(net, sl.f, (1.0 - stop) * ((-(e - cv)) * stop), sl.s);
            sl.loss = -(stop * e + (1.0 - stop) * cv);
        }, AccumulateSlot{&net}, cancel));
        const bool applied = parallel_for(n, [&](std::size_t lo, std::size_t hi) {
            Forward f(rule.net);
            for (std::size_t p = lo; p < hi; ++p)
                if (rule.stop_prob(xs[p], f) > 0.5) cf[p] = ex[p];
        }, cancel);
        if (!applied) return cancelled();
        rules[t] = std::move(rule);
    }
    // Out of sample: the learned rules on an independent path set.
    QUELM_TRY(fresh, pricing::simulate_gbm_paths(m, o.expiry, s.paths, s.steps, independent_seed(s.seed), cancel));
    std::vector<double> value(fresh.n_paths);
    const bool valued = parallel_for(value.size(), [&](std::size_t lo, std::size_t hi) {
        std::vector<Forward> scratch;  // one workspace per rule, per chunk
        scratch.reserve(M);
        for (std::size_t t = 0; t < M; ++t) scratch.emplace_back(rules[t] ? Forward(rules[t]->net) : Forward(Mlp{}));
        for (std::size_t p = lo; p < hi; ++p)
            value[p] = policy_payoff(fresh, p, rules, scratch, o, r, disc_T).discounted;
    }, cancel);
    if (!valued) return cancelled();
    return pricing::pair_estimate(value, payoff(type, m.spot, K), cancel);
}

Result<AmericanReport> dos_price(const OptionContract& o, const MarketInputs& m, const AmericanSettings& s,
                                 Cancel& cancel) {
    return american_report("dos", o, m, s, dos_american(o, m, s, cancel), cancel);
}

}  // namespace quelm::ml

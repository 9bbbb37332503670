#include "quelm/ml/deep_lsm.hpp"

#include <cmath>

#include "quelm/core/random.hpp"
#include "quelm/ml/stats.hpp"
#include "quelm/ml/train.hpp"
#include "quelm/ml/train_loop.hpp"

namespace quelm::ml {

Result<Estimate> deep_lsm_american(OptionType type, const AmericanConfig& c, Cancel& cancel) {
    QUELM_TRY(start, american_start(type, c, cancel));
    if (start.answer) return *start.answer;
    const MarketInputs& m = c.market;
    const double K = c.strike, r = m.rate;
    const PathSet& ps = start.paths;
    const std::size_t n = ps.n_paths;
    const std::size_t M = static_cast<std::size_t>(c.steps);
    std::vector<double>& cf = start.cash;

    const std::uint64_t first = c.hidden[0];
    const std::size_t min_itm = static_cast<std::size_t>(std::max<std::uint64_t>(2, first));
    std::vector<std::size_t> itm;
    std::vector<double> xs, ys, xn, yn;
    for (std::size_t t = M; t-- > 1;) {
        if (cancel.poll()) return cancelled();
        const double disc = std::exp(static_cast<double>(t) * ps.dt * (-r));
        itm.clear();
        xs.clear();
        ys.clear();
        for (std::size_t p = 0; p < n; ++p) {
            const double s = ps.path(p)[t];
            if (payoff(type, s, K) > 0.0) {
                itm.push_back(p);
                xs.push_back(s / K);
                ys.push_back(cf[p]);
            }
        }
        const std::size_t cnt = itm.size();
        if (cnt <= min_itm) continue;
        const MeanStd xm = mean_std(xs), ym = mean_std(ys);
        xn.resize(cnt);
        yn.resize(cnt);
        for (std::size_t k = 0; k < cnt; ++k) {
            xn[k] = (xs[k] - xm.mean) / xm.std;
            yn[k] = (ys[k] - ym.mean) / ym.std;
        }
        SmallRng init = seed_from_u64(derive_seed(c.seed, ~(static_cast<std::uint64_t>(t) + 1)));
        Mlp net = Mlp::create(1, c.hidden, init);
        SmallRng order = seed_from_u64(derive_seed(c.seed, static_cast<std::uint64_t>(t) ^ 0xABCDULL));
        std::vector<ValueSlot> slots;
        make_slots(net, block_width(cnt), slots);
        const auto done = run_training_blocks(net, cnt, c.epochs, order, slots, [&](ValueSlot& sl, std::size_t k) {
            const double in[1] = {xn[k]};
            forward(net, in, sl.f);
            const double e = sl.f.output() - yn[k];
            backward_value_adjoints(net, sl.f, 2.0 * e, sl.s);
            sl.loss = e * e;
        }, AccumulateSlot{&net}, cancel);
        Forward& f = slots[0].f;
        if (!done) return cancelled();
        for (std::size_t k = 0; k < cnt; ++k) {
            const double in[1] = {(xs[k] - xm.mean) / xm.std};
            const double cont = predict(net, in, f) * ym.std + ym.mean;
            const double ex = payoff(type, ps.path(itm[k])[t], K) * disc;
            if (ex > cont) cf[itm[k]] = ex;
        }
    }
    return pair_estimate(cf, payoff(type, m.spot, K));
}

Result<AmericanReport> deep_lsm_price(OptionType type, const AmericanConfig& c, Cancel& cancel) {
    QUELM_TRY(e, deep_lsm_american(type, c, cancel));
    return american_report("deep-lsm", type, c, e, cancel);
}

}  // namespace quelm::ml

#include "quelm/ml/deep_lsm.hpp"

#include <algorithm>
#include <cmath>

#include "quelm/core/random.hpp"
#include "quelm/ml/normalise.hpp"
#include "quelm/ml/train_loop.hpp"

namespace quelm::ml {

Result<PriceEstimate> deep_lsm_american(const OptionContract& o, const MarketInputs& m, const AmericanSettings& s,
                                        Cancel& cancel) {
    QUELM_TRY(start, american_start(o, m, s, cancel));
    if (start.answer) return *start.answer;
    const OptionType type = o.option_type;
    const double K = o.strike;
    const pricing::GbmPaths& ps = start.paths;
    std::vector<double>& cf = start.cash;

    const std::size_t min_itm = static_cast<std::size_t>(std::max<std::uint64_t>(2, s.hidden[0]));
    pricing::InTheMoney itm;
    std::vector<double> xn, yn;
    CancelPoller poller(cancel);
    for (std::size_t t = ps.steps; t-- > 1;) {
        if (cancel.poll()) return cancelled();
        QUELM_CHECK(pricing::collect_in_the_money(ps, t, o, cf, itm, poller));
        const std::vector<double>& xs = itm.moneyness;
        const std::size_t cnt = xs.size();
        if (cnt <= min_itm) continue;
        const MeanStd xm = normalise(xs, xn);
        const MeanStd ym = normalise(itm.cash, yn);
        Xoshiro256pp init = keyed_stream(s.seed, date_init_key(t));
        Mlp net = Mlp::create(1, s.hidden, init);
        Xoshiro256pp order = keyed_stream(s.seed, date_shuffle_key(t, kDeepLsmShuffleKey));
        std::vector<ValueSlot> slots;
        make_slots(net, block_width(cnt), slots);
        QUELM_CHECK(run_training_blocks(net, cnt, s.epochs, order, slots, [&](ValueSlot& sl, std::size_t k) {
            const double in[1] = {xn[k]};
            forward(net, in, sl.f);
            const double e = sl.f.output() - yn[k];
            backward_value_adjoints(net, sl.f, 2.0 * e, sl.s);
            sl.loss = e * e;
        }, AccumulateSlot{&net}, cancel));
        Forward& f = slots[0].f;
        const double disc = pricing::date_discount(ps, t, m.rate);
        for (std::size_t k = 0; k < cnt; ++k) {
            const double in[1] = {(xs[k] - xm.mean) / xm.std};
            const double cont = predict(net, in, f) * ym.std + ym.mean;
            const std::size_t p = itm.paths[k];
            const double ex = payoff(type, ps.at(p, t), K) * disc;
            if (ex > cont) cf[p] = ex;
        }
    }
    return pricing::pair_estimate(cf, payoff(type, m.spot, K), cancel);
}

Result<AmericanReport> deep_lsm_price(const OptionContract& o, const MarketInputs& m, const AmericanSettings& s,
                                      Cancel& cancel) {
    return american_report("deep-lsm", o, m, s, deep_lsm_american(o, m, s, cancel), cancel);
}

}  // namespace quelm::ml

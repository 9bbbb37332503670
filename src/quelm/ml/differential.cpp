#include "quelm/ml/differential.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "quelm/core/math/elementary.hpp"
#include "quelm/core/memory.hpp"
#include "quelm/core/parallel.hpp"
#include "quelm/core/sizes.hpp"
#include "quelm/pricing/vanilla/greeks.hpp"
#include "quelm/ml/adam.hpp"
#include "quelm/ml/normalise.hpp"
#include "quelm/ml/train_loop.hpp"
#include "quelm/pricing/black/black_scholes.hpp"

namespace quelm::ml {

namespace {

Status validate_european(const OptionContract& o, const MarketInputs& m, std::uint64_t n) {
    if (n == 0) return invalid("n_samples must be >= 1");
    if (o.strike <= 0.0 || m.spot <= 0.0) return invalid("spot and strike must be > 0");
    if (o.expiry <= 0.0) return invalid("maturity must be > 0");
    if (m.vol < 0.0) return invalid("volatility must be >= 0");
    return {};
}

// The samples, their three normalised copies, and the network with its workspaces.
Result<MemoryClaim> claim_training_memory(const DiffSettings& cfg) {
    const double n = static_cast<double>(cfg.samples);
    const double slots = static_cast<double>(block_width(static_cast<std::size_t>(
        std::min<std::uint64_t>(cfg.samples, std::numeric_limits<std::size_t>::max()))));
    const double bytes = n * sizeof(DiffSample) + doubles_bytes(3.0 * n) + training_bytes(1, cfg.hidden, slots);
    return claim_memory(bytes, "the training samples and network");
}

}  // namespace

Result<std::vector<DiffSample>> generate_european(const OptionContract& o, const MarketInputs& m,
                                                  const DiffSettings& s, Cancel& cancel) {
    QUELM_CHECK(validate_european(o, m, s.samples));
    const double T = o.expiry, K = o.strike, vol = m.vol;
    const double df = quelm::exp(-m.rate * T);
    const double drift = (-0.5 * vol * vol + (m.rate - m.dividend_yield)) * T;
    const double vs = std::sqrt(T) * vol;
    const double raw = (s.spread * vol) * std::sqrt(T);
    const double width = raw > 1e-6 ? raw : 1e-6;
    const bool call = o.option_type == OptionType::Call;
    const double spot = m.spot;
    const std::uint64_t seed = s.seed;
    std::vector<DiffSample> out(checked_count(s.samples, sizeof(DiffSample)));
    const bool done = parallel_for(out.size(), [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) {
            Xoshiro256pp rng = keyed_stream(seed, i);
            const double z1 = standard_normal(rng);
            const double z2 = standard_normal(rng);
            const double x = spot * quelm::exp(width * z1 - 0.5 * width * width);
            const double st = x * quelm::exp(vs * z2 + drift);
            DiffSample& d = out[i];
            d.x = x;
            if (call) {
                d.y = df * std::max(st - K, 0.0);
                d.dydx = st >= K ? (st / x) * df : 0.0;
            } else {
                d.y = df * std::max(K - st, 0.0);
                d.dydx = st < K ? (st / x) * (-df) : 0.0;
            }
        }
    }, cancel);
    if (!done) return cancelled();
    return out;
}

Result<Training> train_differential(const OptionContract& o, const MarketInputs& m, const DiffSettings& cfg,
                                    Cancel& cancel) {
    QUELM_CHECK(check_hidden(cfg.hidden));
    if (cfg.epochs == 0) return invalid("epochs must be >= 1");
    QUELM_CHECK(validate_european(o, m, cfg.samples));
    QUELM_TRY(memory, claim_training_memory(cfg));  // held until the network is trained
    QUELM_TRY(samples, generate_european(o, m, cfg, cancel));
    const std::size_t n = samples.size();
    std::vector<double> xn(n), yn(n), dn(n);
    for (std::size_t i = 0; i < n; ++i) {
        xn[i] = samples[i].x;
        yn[i] = samples[i].y;
    }
    const MeanStd xm = mean_std(xn), ym = mean_std(yn);
    double dsq = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        xn[i] = (samples[i].x - xm.mean) / xm.std;
        yn[i] = (samples[i].y - ym.mean) / ym.std;
        dn[i] = samples[i].dydx * xm.std / ym.std;
        dsq += dn[i] * dn[i];
    }
    const double dmean = dsq / static_cast<double>(n);
    const double lambda = dmean > 0.0 ? 1.0 / std::sqrt(dmean) : 1.0;
    const double lam2 = lambda * lambda;

    Xoshiro256pp init = tagged_stream(cfg.seed, kInitTag);
    Mlp net = Mlp::create(1, cfg.hidden, init);
    Xoshiro256pp order = tagged_stream(cfg.seed, kShuffleTag);
    struct Slot {
        Forward f;
        Twin tw;
        GradScratch s;
        double loss = 0.0;
    };
    std::vector<Slot> slots;
    const std::size_t width = block_width(n);
    slots.reserve(width);
    for (std::size_t i = 0; i < width; ++i) slots.push_back(Slot{Forward(net), Twin(net), GradScratch(net)});
    QUELM_TRY(loss, run_training_blocks(net, n, cfg.epochs, order, slots, [&](Slot& sl, std::size_t k) {
        const double in[1] = {xn[k]};
        forward(net, in, sl.f);
        twin(net, sl.f, sl.tw);
        const double e_v = sl.f.output() - yn[k];
        const double e_d = sl.tw.input_grad[0] - dn[k];
        differential_adjoints(net, sl.f, sl.tw, e_v, lam2 * e_d, sl.s);
        sl.loss = 0.5 * e_v * e_v + 0.5 * lam2 * e_d * e_d;
    }, [&](const Slot& sl, Grad& grad) {
        accumulate_differential(net, sl.f, sl.tw, sl.s, grad);
        return sl.loss;
    }, cancel));
    return Training{TrainedModel{std::move(net), {xm.mean}, {xm.std}, ym.mean, ym.std}, loss, cfg.epochs,
                    static_cast<std::uint64_t>(n)};
}

TrainedModel::PriceDelta TrainedModel::price_and_delta(double spot) const {
    const double in[1] = {(spot - x_mean[0]) / x_std[0]};
    Forward f(net);
    Twin tw(net);
    forward(net, in, f);
    twin(net, f, tw);
    return {y_mean + f.output() * y_std, tw.input_grad[0] * y_std / x_std[0]};
}

Result<DiffReport> differential_ml_price(const OptionContract& o, const MarketInputs& m, const DiffSettings& s,
                                         Cancel& cancel) {
    QUELM_TRY(tr, train_differential(o, m, s, cancel));
    const auto [ml_price, ml_delta] = tr.model.price_and_delta(m.spot);
    QUELM_TRY(bs, pricing::black_scholes(o, m));
    QUELM_TRY(g, greeks::analytic_greeks(o, m));
    return DiffReport{m.spot, o.option_type, ml_price, ml_delta, bs, g.delta, std::fabs(ml_price - bs),
                      std::fabs(ml_delta - g.delta), tr.n_samples, tr.epochs, tr.final_loss};
}

}  // namespace quelm::ml

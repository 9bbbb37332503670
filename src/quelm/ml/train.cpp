#include "quelm/ml/train.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "quelm/core/memory.hpp"
#include "quelm/core/parallel.hpp"
#include "quelm/core/sizes.hpp"
#include "quelm/greeks/analytic.hpp"
#include "quelm/ml/optim.hpp"
#include "quelm/ml/stats.hpp"
#include "quelm/ml/train_loop.hpp"
#include "quelm/pricing/black_scholes.hpp"

namespace quelm::ml {

namespace {
constexpr std::uint64_t kGolden = 0x9E3779B97F4A7C15ULL;

}  // namespace

SmallRng tagged_stream(std::uint64_t seed, std::uint64_t tag) { return seed_from_u64(mix64((seed ^ tag) + kGolden)); }

namespace {

Status validate_european(const EuropeanSpec& c, std::uint64_t n) {
    if (n == 0) return invalid("n_samples must be >= 1");
    if (c.strike <= 0.0 || c.spot <= 0.0) return invalid("spot and strike must be > 0");
    if (c.maturity <= 0.0) return invalid("maturity must be > 0");
    if (c.vol < 0.0) return invalid("volatility must be >= 0");
    return {};
}

// The samples, their three normalised copies, and the network with its workspaces.
Status check_training_memory(const DiffConfig& cfg) {
    const double n = static_cast<double>(cfg.samples);
    const double slots = static_cast<double>(block_width(static_cast<std::size_t>(
        std::min<std::uint64_t>(cfg.samples, std::numeric_limits<std::size_t>::max()))));
    const double bytes = n * sizeof(DiffSample) + doubles_bytes(3.0 * n) + training_bytes(1, cfg.hidden, slots);
    return check_fits_in_memory(bytes, "the training samples and network");
}

}  // namespace

Result<std::vector<DiffSample>> generate_european(const EuropeanSpec& c, std::uint64_t n, std::uint64_t seed,
                                                  double spread, Cancel& cancel) {
    QUELM_CHECK(validate_european(c, n));
    const double T = c.maturity, K = c.strike, vol = c.vol;
    const double df = std::exp(-c.rate * T);
    const double drift = (-0.5 * vol * vol + c.rate) * T;
    const double vs = std::sqrt(T) * vol;
    const double raw = (spread * vol) * std::sqrt(T);
    const double width = raw > 1e-6 ? raw : 1e-6;
    const bool call = c.type == OptionType::Call;
    std::vector<DiffSample> out(checked_count(n, sizeof(DiffSample)));
    const bool done = parallel_for(out.size(), [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) {
            SmallRng rng = seed_from_u64(derive_seed(seed, i));
            const double z1 = standard_normal(rng);
            const double z2 = standard_normal(rng);
            const double x = c.spot * std::exp(width * z1 - 0.5 * width * width);
            const double st = x * std::exp(vs * z2 + drift);
            DiffSample& s = out[i];
            s.x = x;
            if (call) {
                s.y = df * std::max(st - K, 0.0);
                s.dydx = st >= K ? (st / x) * df : 0.0;
            } else {
                s.y = df * std::max(K - st, 0.0);
                s.dydx = st < K ? (st / x) * (-df) : 0.0;
            }
        }
    }, cancel);
    if (!done) return cancelled();
    return out;
}

Result<Training> train_differential(const DiffConfig& cfg, Cancel& cancel) {
    QUELM_CHECK(check_hidden(cfg.hidden));
    if (cfg.epochs == 0) return invalid("epochs must be >= 1");
    QUELM_CHECK(validate_european(cfg.contract, cfg.samples));
    QUELM_CHECK(check_training_memory(cfg));
    QUELM_TRY(samples, generate_european(cfg.contract, cfg.samples, cfg.seed, cfg.spread, cancel));
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

    SmallRng init = tagged_stream(cfg.seed, kInitTag);
    Mlp net = Mlp::create(1, cfg.hidden, init);
    SmallRng order = tagged_stream(cfg.seed, kShuffleTag);
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
    const auto loss = run_training_blocks(net, n, cfg.epochs, order, slots, [&](Slot& sl, std::size_t k) {
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
    }, cancel);
    if (!loss) return cancelled();
    return Training{TrainedModel{std::move(net), {xm.mean}, {xm.std}, ym.mean, ym.std}, *loss, cfg.epochs,
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

Result<DiffReport> differential_ml_price(const DiffConfig& cfg, Cancel& cancel) {
    QUELM_TRY(tr, train_differential(cfg, cancel));
    const auto [ml_price, ml_delta] = tr.model.price_and_delta(cfg.contract.spot);
    const EuropeanSpec& c = cfg.contract;
    const OptionContract oc{c.strike, c.maturity, c.type};
    const MarketInputs mk{c.spot, c.rate, c.vol, 0.0};
    QUELM_TRY(bs, pricing::black_scholes(oc, mk));
    QUELM_TRY(g, greeks::analytic_greeks(oc, mk));
    return DiffReport{c.spot, c.type, ml_price, ml_delta, bs, g.delta, std::fabs(ml_price - bs),
                      std::fabs(ml_delta - g.delta), tr.n_samples, tr.epochs, tr.final_loss};
}

}  // namespace quelm::ml

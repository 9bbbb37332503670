#include "quelm/pricing/asian.hpp"

#include <algorithm>
#include <cmath>
#include <span>
#include <string>
#include <vector>

#include "quelm/core/math/distributions.hpp"
#include "quelm/core/math/elementary.hpp"
#include "quelm/core/math/sample.hpp"
#include "quelm/core/memory.hpp"
#include "quelm/stochastic/simulate.hpp"

namespace quelm::pricing {

namespace {

Status check_common(const OptionContract& o, const MarketInputs& m) {
    if (m.spot <= 0.0 || o.strike <= 0.0) return invalid("spot and strike must be > 0");
    if (m.vol < 0.0 || o.expiry < 0.0) return invalid("volatility and expiry must be >= 0");
    return {};
}

double path_average(std::span<const double> path) {
    double total = 0.0;
    for (std::size_t j = 1; j < path.size(); ++j) total += path[j];
    return total / static_cast<double>(path.size() - 1);
}

}  // namespace

Result<double> geometric_asian_price(const OptionContract& o, const MarketInputs& m) {
    QUELM_CHECK(check_common(o, m));
    if (any_nan(m, o.strike, o.expiry)) return kNaN;
    const double s = m.spot, k = o.strike, r = m.rate, vol = m.vol, t = o.expiry;
    if (vol == 0.0 || t == 0.0) {
        const double a = s * quelm::exp((r - m.dividend_yield) * 0.5 * t);
        return quelm::exp(-r * t) * payoff(o.option_type, a, k);
    }
    const double b = 0.5 * ((r - m.dividend_yield) + vol * vol / (-6.0));
    const double va = vol / 1.7320508075688772;
    const double w = std::sqrt(t) * va;
    const double d1 = ((0.5 * va * va + b) * t + quelm::log(s / k)) / w;
    const double d2 = d1 - w;
    double price;
    if (o.option_type == OptionType::Call) {
        price = s * quelm::exp((b - r) * t) * normal_cdf(d1) - k * quelm::exp(-r * t) * normal_cdf(d2);
    } else {
        price = k * quelm::exp(-r * t) * normal_cdf(-d2) - s * quelm::exp((b - r) * t) * normal_cdf(-d1);
    }
    return std::max(price, 0.0);
}

Result<PriceEstimate> arithmetic_asian_price(const OptionContract& o, const MarketInputs& m, const AsianSettings& s,
                                             Cancel& cancel) {
    const std::uint64_t n_fixings = s.n_fixings;
    QUELM_CHECK(check_common(o, m));
    if (n_fixings == 0) return invalid("n_fixings must be >= 1");
    if (any_nan(m, o.strike, o.expiry)) return PriceEstimate{kNaN, kNaN};
    const double r = m.rate, t = o.expiry;
    const double disc = quelm::exp(-r * t);
    if (m.vol == 0.0 || t == 0.0) {
        const double n = static_cast<double>(n_fixings);
        double total = 0.0;
        CancelPoller poller(cancel);
        for (std::uint64_t i = 1; i <= n_fixings; ++i) {
            if (poller.tick()) return cancelled();
            total += quelm::exp(static_cast<double>(i) * t / n * (r - m.dividend_yield)) * m.spot;
        }
        return PriceEstimate{disc * payoff(o.option_type, total / n, o.strike), 0.0};
    }
    const stochastic::Process gbm = stochastic::Gbm{r - m.dividend_yield, m.vol};
    const double pairs_wanted = static_cast<double>(pair_count(s.paths));
    QUELM_TRY(memory, claim_memory(doubles_bytes(pairs_wanted * (2.0 * (static_cast<double>(n_fixings) + 1.0) + 1.0)),
                                   "the Asian option's paths"));
    QUELM_TRY(set, stochastic::simulate_paths(gbm, {s.paths, n_fixings, s.seed}, m.spot, t, cancel));
    const std::size_t pairs = set.count / 2;
    std::vector<double> values(pairs);
    CancelPoller poller(cancel);
    for (std::size_t i = 0; i < pairs; ++i) {
        if (poller.tick(set.path_len)) return cancelled();
        const double plus = payoff(o.option_type, path_average(set.path(2 * i)), o.strike);
        const double minus = payoff(o.option_type, path_average(set.path(2 * i + 1)), o.strike);
        values[i] = (plus + minus) * 0.5;
    }
    QUELM_TRY(ms, mean_and_se(values, poller));
    return PriceEstimate{disc * ms.mean, disc * ms.standard_error};
}

}  // namespace quelm::pricing

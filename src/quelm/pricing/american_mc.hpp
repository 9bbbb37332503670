// The toolkit of every American (Bermudan on a time grid) Monte Carlo engine, classical
// and neural: the input checks, the answer of a market with nothing random left, the
// antithetic geometric-Brownian path set, the discounted cash flows refined backwards,
// the in-the-money paths at one date, and the pair estimate. Times in years.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "quelm/core/buffer.hpp"
#include "quelm/core/cancel.hpp"
#include "quelm/core/error.hpp"
#include "quelm/pricing/option.hpp"

namespace quelm::pricing {

// strike > 0, spot >= 0, volatility >= 0, expiry >= 0, paths >= 1, steps >= 1, in that order.
[[nodiscard]] Status validate_american(const OptionContract& o, const MarketInputs& m, std::uint64_t paths,
                                       std::uint64_t steps);

// Spot, expiry or volatility 0: every path runs along the forward.
[[nodiscard]] bool nothing_random(const OptionContract& o, const MarketInputs& m);
// Then the value is the best of immediate exercise and exercise on the forward at each
// date j T / steps, with no standard error.
[[nodiscard]] Result<PriceEstimate> forward_exercise_value(const OptionContract& o, const MarketInputs& m,
                                                           std::uint64_t steps, Cancel& cancel);

// Antithetic log-Euler paths of S under (r - q, sigma) on steps + 1 dates (date 0 is the
// spot), stored date-major so a backward pass reads one date contiguously. Paths 2k and
// 2k + 1 are pair k; pair k draws from the stream keyed k.
struct GbmPaths {
    DoubleBuffer values;
    std::size_t n_paths = 0;
    std::size_t steps = 0;
    double dt = 0.0;

    [[nodiscard]] const double* date(std::size_t j) const { return values.data() + j * n_paths; }
    [[nodiscard]] double at(std::size_t path, std::size_t j) const { return values[j * n_paths + path]; }
};

// Runs the pairs on the worker pool. The caller has checked paths >= 1, steps >= 1 and
// that the set fits in memory.
[[nodiscard]] Result<GbmPaths> simulate_gbm_paths(const MarketInputs& m, double expiry, std::uint64_t paths,
                                                  std::uint64_t steps, std::uint64_t seed, Cancel& cancel);

// e^(-r t_j) at date j of the set.
[[nodiscard]] double date_discount(const GbmPaths& set, std::size_t j, double rate);

// Each path's payoff at expiry discounted to today: the cash flows a backward pass refines.
[[nodiscard]] std::vector<double> terminal_cash(const GbmPaths& set, const OptionContract& o, double rate);

// The paths in the money at one date, in path order, with their moneyness S / K and cash flow.
struct InTheMoney {
    std::vector<std::size_t> paths;
    std::vector<double> moneyness, cash;
};
[[nodiscard]] Status collect_in_the_money(const GbmPaths& set, std::size_t date, const OptionContract& o,
                                          std::span<const double> cash, InTheMoney& out, CancelPoller& poller);

// The mean of the pair averages of the cash flows and its standard error, floored by
// immediate exercise (then with no standard error).
[[nodiscard]] Result<PriceEstimate> pair_estimate(std::span<const double> cash, double immediate, Cancel& cancel);

}  // namespace quelm::pricing

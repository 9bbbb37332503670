// The American (Bermudan on a time grid) problem shared by the neural engines: its
// configuration and checks, the antithetic geometric-Brownian path set, the answer of a
// degenerate market, and the report that sets an estimate beside a 2000-step tree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "quelm/core/buffer.hpp"
#include "quelm/core/cancel.hpp"
#include "quelm/core/error.hpp"
#include "quelm/core/option.hpp"

namespace quelm::ml {

// The neural engines by name, matched exactly (no case folding).
enum class AmericanMethod : unsigned char { DeepLsm, Dos };
inline constexpr Choices<AmericanMethod, 3> kAmericanMethods{
    "method", Listing::Expected,
    {{{"deep-lsm", AmericanMethod::DeepLsm}, {"deep_lsm", AmericanMethod::DeepLsm}, {"dos", AmericanMethod::Dos}}},
    false};

struct AmericanConfig {
    std::vector<std::uint64_t> hidden;
    MarketInputs market;
    double strike, maturity;  // years
    std::uint64_t paths, steps, seed, epochs;
};

struct Estimate {
    double price, standard_error;
};

struct AmericanReport {
    const char* method;
    OptionType type;
    double spot, strike, rate, vol, maturity;
    double price, standard_error, binomial_price, abs_err;
    std::uint64_t paths, steps, epochs;
};

// Path p of the set is values[p * (steps + 1) .. + steps]; paths 2k and 2k+1 are pair k.
struct PathSet {
    DoubleBuffer values;
    std::size_t n_paths = 0;
    std::uint64_t steps = 0;
    double dt = 0.0;

    [[nodiscard]] const double* path(std::size_t p) const { return values.data() + p * (steps + 1); }
};

// strike > 0, spot >= 0, volatility >= 0, maturity >= 0, paths >= 1, steps >= 1, in that order.
[[nodiscard]] Status validate_inputs(const MarketInputs& m, double strike, double maturity, std::uint64_t paths,
                                     std::uint64_t steps);

// Runs the pairs on the worker pool, each from its own stream keyed by the pair index.
// An interrupted simulation returns nullopt.
[[nodiscard]] Result<std::optional<PathSet>> simulate_paths(const MarketInputs& m, std::uint64_t paths,
                                                            std::uint64_t steps, std::uint64_t seed,
                                                            double maturity, Cancel& cancel);

// The hidden-list, epoch and input checks the engines run first.
[[nodiscard]] Status check_config(const AmericanConfig& c);

// Spot, maturity or volatility 0: the best of immediate and forward exercise on the grid.
// Stops early, with cancel.stopped() set, when the caller asks.
[[nodiscard]] std::optional<Estimate> degenerate_value(OptionType type, const AmericanConfig& c, Cancel& cancel);

// Where both neural engines start: the answer of a degenerate market, or else the simulated
// path set with each path's discounted terminal payoff (the cash flows they refine backwards).
struct AmericanStart {
    std::optional<Estimate> answer;  // set: nothing is left to learn
    PathSet paths;
    std::vector<double> cash;
};
[[nodiscard]] Result<AmericanStart> american_start(OptionType type, const AmericanConfig& c, Cancel& cancel);

// Pair averages of discounted cash flows, their mean and standard error, floored by immediate exercise.
[[nodiscard]] Estimate pair_estimate(std::span<const double> cash, double immediate);

// The report of an engine's estimate beside the 2000-step American tree.
[[nodiscard]] Result<AmericanReport> american_report(const char* method, OptionType type, const AmericanConfig& c,
                                                     const Estimate& e, Cancel& cancel);

}  // namespace quelm::ml

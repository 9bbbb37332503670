// Differential machine learning for a European option: pathwise value and delta labels
// from a log-normal cloud of starting spots, a surrogate trained on both, and its price
// and delta at the requested spot beside the Black-Scholes-Merton values. Times in years,
// rates and dividend yields continuously compounded.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "quelm/core/cancel.hpp"
#include "quelm/core/error.hpp"
#include "quelm/pricing/option.hpp"
#include "quelm/ml/mlp.hpp"

namespace quelm::ml {

struct DiffSample {
    double x;     // starting spot
    double y;     // discounted payoff
    double dydx;  // pathwise derivative of y in x
};

// The samples: how many, from which seed, and the width of the cloud of starting spots
// (spread volatilities over the life of the option); then the network and its training.
struct DiffSettings {
    std::vector<std::uint64_t> hidden;  // widths of the hidden layers
    std::uint64_t samples;
    std::uint64_t epochs;
    double spread;
    std::uint64_t seed;
};

struct TrainedModel {
    Mlp net;
    std::vector<double> x_mean, x_std;
    double y_mean, y_std;

    struct PriceDelta {
        double price, delta;
    };
    [[nodiscard]] PriceDelta price_and_delta(double spot) const;
};

struct Training {
    TrainedModel model;
    double final_loss;
    std::uint64_t epochs;
    std::uint64_t n_samples;
};

struct DiffReport {
    double spot;
    OptionType type;
    double ml_price, ml_delta, bs_price, bs_delta, price_abs_err, delta_abs_err;
    std::uint64_t n_samples, epochs;
    double final_loss;
};

// Errors: "n_samples must be >= 1", "spot and strike must be > 0", "maturity must be > 0",
// "volatility must be >= 0", in that order. Samples run on the worker pool.
[[nodiscard]] Result<std::vector<DiffSample>> generate_european(const OptionContract& o, const MarketInputs& m,
                                                                const DiffSettings& s,
                                                                Cancel& cancel = never_cancel());

[[nodiscard]] Result<Training> train_differential(const OptionContract& o, const MarketInputs& m,
                                                  const DiffSettings& s, Cancel& cancel = never_cancel());

[[nodiscard]] Result<DiffReport> differential_ml_price(const OptionContract& o, const MarketInputs& m,
                                                       const DiffSettings& s, Cancel& cancel = never_cancel());

}  // namespace quelm::ml

// Deep optimal stopping for American options: at each exercise date, backwards, a network
// whose logistic output is a stopping probability is trained to maximise the value of the
// randomised stop-or-continue decision; the learned rules are then valued on fresh paths.
#pragma once

#include <optional>
#include <vector>

#include "quelm/ml/american.hpp"
#include "quelm/ml/mlp.hpp"

namespace quelm::ml {

struct StopNet {
    Mlp net;
    double x_mean, x_std;

    // Logistic of the network output at the normalised feature; f is scratch of this network.
    [[nodiscard]] double stop_prob(double x, Forward& f) const;
};

// Slot t holds the rule of date t; slot 0 and untrained dates stay empty.
using StopRules = std::vector<std::optional<StopNet>>;

struct PolicyPayoff {
    double discounted, payoff;
};

// The first date 1 .. steps-1 at which path p's rule says stop (probability > 0.5), else expiry.
[[nodiscard]] PolicyPayoff policy_payoff(const pricing::GbmPaths& set, std::size_t p, const StopRules& rules,
                                         std::vector<Forward>& scratch, const OptionContract& o, double rate,
                                         double terminal_discount);

[[nodiscard]] Result<PriceEstimate> dos_american(const OptionContract& o, const MarketInputs& m,
                                                 const AmericanSettings& s, Cancel& cancel = never_cancel());

// The estimate beside the 2000-step tree, method "dos".
[[nodiscard]] Result<AmericanReport> dos_price(const OptionContract& o, const MarketInputs& m,
                                               const AmericanSettings& s, Cancel& cancel = never_cancel());

}  // namespace quelm::ml

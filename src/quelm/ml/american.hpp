// The American (Bermudan on a time grid) problem as the neural engines see it: their
// settings and checks, where they start (the path set and its cash flows, from the
// American Monte Carlo toolkit), and the report that sets an estimate beside a 2000-step tree.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "quelm/core/cancel.hpp"
#include "quelm/core/error.hpp"
#include "quelm/core/memory.hpp"
#include "quelm/pricing/option.hpp"
#include "quelm/pricing/american_mc.hpp"

namespace quelm::ml {

// The neural engines by name, matched exactly (no case folding).
enum class AmericanMethod : unsigned char { DeepLsm, Dos };
inline constexpr Choices<AmericanMethod, 3> kAmericanMethods{
    "method", Listing::Expected,
    {{{"deep-lsm", AmericanMethod::DeepLsm}, {"deep_lsm", AmericanMethod::DeepLsm}, {"dos", AmericanMethod::Dos}}},
    false};

struct AmericanSettings {
    std::vector<std::uint64_t> hidden;  // widths of the hidden layers
    std::uint64_t paths, steps, seed, epochs;
};

struct AmericanReport {
    const char* method;
    OptionType type;
    double spot, strike, rate, vol, expiry;
    double price, standard_error, binomial_price, abs_err;
    std::uint64_t paths, steps, epochs;
};

// The hidden-list and epoch checks, then the toolkit's input checks.
[[nodiscard]] Status check_settings(const OptionContract& o, const MarketInputs& m, const AmericanSettings& s);

// Where both neural engines start: the answer of a NaN or degenerate market, or else the
// simulated path set with each path's discounted terminal payoff (the cash flows they
// refine backwards).
struct AmericanStart {
    std::optional<PriceEstimate> answer;  // set: nothing is left to learn
    pricing::GbmPaths paths;
    std::vector<double> cash;
    MemoryClaim memory;  // the paths and the network, held while the engine trains
};
[[nodiscard]] Result<AmericanStart> american_start(const OptionContract& o, const MarketInputs& m,
                                                   const AmericanSettings& s, Cancel& cancel);

// The report of an engine's estimate beside the 2000-step American tree (the engine's
// error, if it failed).
[[nodiscard]] Result<AmericanReport> american_report(const char* method, const OptionContract& o,
                                                     const MarketInputs& m, const AmericanSettings& s,
                                                     const Result<PriceEstimate>& estimate, Cancel& cancel);

}  // namespace quelm::ml

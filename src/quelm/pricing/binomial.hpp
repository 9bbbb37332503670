// Cox-Ross-Rubinstein binomial tree for vanilla options, European or American,
// with a continuous dividend yield (first-order up-probability). O(steps²) time,
// one slice of steps + 1 values of memory plus two power tables.
#pragma once

#include <cstdint>
#include <string_view>

#include "quelm/core/buffer.hpp"
#include "quelm/core/cancel.hpp"
#include "quelm/core/error.hpp"
#include "quelm/pricing/option.hpp"

namespace quelm::pricing {

enum class ExerciseStyle : unsigned char { European, American };

// "european"/"euro"/"e" or "american"/"amer"/"a" after ASCII lower-casing.
inline constexpr Choices<ExerciseStyle, 6> kExerciseStyles{
    "style", Listing::Quoted,
    {{{"european", ExerciseStyle::European}, {"euro", ExerciseStyle::European}, {"e", ExerciseStyle::European},
      {"american", ExerciseStyle::American}, {"amer", ExerciseStyle::American}, {"a", ExerciseStyle::American}}}};

struct BinomialSettings {
    ExerciseStyle style;
    std::uint64_t steps;
};

[[nodiscard]] Result<double> binomial(const OptionContract& o, const MarketInputs& m, const BinomialSettings& s,
                                      Cancel& cancel = never_cancel());

// The tree's working memory (two power tables and one row of node values), grown as
// needed and kept: a caller pricing many trees in a row allocates once per buffer.
struct BinomialBuffers {
    DoubleBuffer first, second, values;
};
[[nodiscard]] Result<double> binomial(const OptionContract& o, const MarketInputs& m, const BinomialSettings& s,
                                      BinomialBuffers& work, Cancel& cancel = never_cancel());

}  // namespace quelm::pricing

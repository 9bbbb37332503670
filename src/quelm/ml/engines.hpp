// The neural engines as a caller picks them: the American engine by method, and the
// hidden-layer widths used when the caller gives none.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "quelm/core/cancel.hpp"
#include "quelm/core/error.hpp"
#include "quelm/ml/american.hpp"

namespace quelm::ml {

using Widths = std::optional<std::vector<std::uint64_t>>;

// The given widths, or one layer of 16 units.
[[nodiscard]] std::vector<std::uint64_t> american_hidden(const Widths& given);
// The given widths, or two layers of 30 units.
[[nodiscard]] std::vector<std::uint64_t> differential_hidden(const Widths& given);

// Deep least-squares Monte Carlo or deep optimal stopping, with the tree beside it.
[[nodiscard]] Result<AmericanReport> american_price(AmericanMethod method, const OptionContract& o,
                                                    const MarketInputs& m, const AmericanSettings& settings,
                                                    Cancel& cancel = never_cancel());

}  // namespace quelm::ml

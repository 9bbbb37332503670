// Market.shifted, Market.scenarios and Market.historical_shifts: reading shifts and quote
// histories (dicts, pandas Series and DataFrames, by duck typing) into the core's
// scenarios, and their markets back.
#pragma once

#include "bindings/book/market_args.hpp"
#include "quelm/core/cancel.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quelm::py {

Result<book::Market> shifted_of(const book::Market& m, const ShiftsArg& shifts, Cancel& cancel);
PyObject* scenarios_impl(const book::Market& m, PyObject* shifts);
PyObject* historical_shifts_impl(const book::Market& m, PyObject* quote_history, std::uint64_t horizon,
                                 const std::optional<std::vector<std::string>>& relative);

}  // namespace quelm::py

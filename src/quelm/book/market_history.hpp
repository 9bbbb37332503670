// Scenario shifts from a history of quotes: each scenario is the change over `horizon`
// days of history, x[t+h] - x[t], for t = 0 .. rows - h - 1 (windows overlap when h > 1).
// A column taken absolutely (a rate quote) shifts by the change itself; one taken
// relatively (an FX spot, a vol) by the market's level times the ratio less the level,
// level * (x[t+h] / x[t]) - level: the same proportional move, in the market's units.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include "quelm/core/error.hpp"
#include "quelm/dates/serial.hpp"

namespace quelm::book {

struct HistoryColumn {
    std::string key;      // names the column in errors
    bool relative = false;
    double level = 0.0;   // the market's value, for a relative column
};

// `values` row-major, rows = dates.size() by columns.size(). Returns row-major
// (rows - horizon) by columns. A missing value (NaN) or an infinite one is an error naming
// the column and the date, as is a relative column's zero or sign change and a horizon not
// below the rows.
[[nodiscard]] Result<std::vector<double>> historical_changes(std::span<const double> values,
                                                             std::span<const dates::Serial> dates,
                                                             std::span<const HistoryColumn> columns,
                                                             std::size_t horizon);

}  // namespace quelm::book

#include "quelm/book/market_history.hpp"

#include <cmath>

namespace quelm::book {

Result<std::vector<double>> historical_changes(std::span<const double> values, std::span<const dates::Serial> dates,
                                               std::span<const HistoryColumn> columns, std::size_t horizon) {
    const std::size_t rows = dates.size(), cols = columns.size();
    if (values.size() != rows * cols)
        return bad_argument("a history of " + std::to_string(rows) + " dates and " + std::to_string(cols) +
                            " columns needs " + std::to_string(rows * cols) + " values, got " +
                            std::to_string(values.size()));
    if (horizon == 0) return bad_argument("horizon must be at least 1 day");
    if (horizon >= rows)
        return bad_argument("a horizon of " + std::to_string(horizon) + " days needs more than " +
                            std::to_string(horizon) + " dates of history, got " + std::to_string(rows));
    for (std::size_t t = 0; t < rows; ++t)
        for (std::size_t c = 0; c < cols; ++c) {
            const double x = values[t * cols + c];
            const auto at = [&] { return columns[c].key + " on " + dates::format_iso(dates[t]); };
            if (std::isnan(x)) return invalid("the history has no value for " + at());
            if (!std::isfinite(x)) return invalid("the history's value for " + at() + " is not finite");
            if (columns[c].relative && !(x > 0.0))
                return invalid("the history's value for " + at() +
                               " is not positive: a relative change needs positive levels");
        }
    std::vector<double> out((rows - horizon) * cols);
    for (std::size_t t = 0; t + horizon < rows; ++t)
        for (std::size_t c = 0; c < cols; ++c) {
            const double from = values[t * cols + c], to = values[(t + horizon) * cols + c];
            const HistoryColumn& col = columns[c];
            out[t * cols + c] = col.relative ? col.level * (to / from) - col.level : to - from;
        }
    return out;
}

}  // namespace quelm::book

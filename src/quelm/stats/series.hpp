// The statistics report of a series given one of three ways: as returns; as prices, whose
// simple returns are used and which enable drawdown and Calmar; or as plain values, which
// give the descriptive statistics only.
#pragma once

#include <optional>
#include <span>

#include "quelm/core/cancel.hpp"
#include "quelm/core/error.hpp"
#include "quelm/stats/report.hpp"

namespace quelm::stats {

struct GivenSeries {
    std::optional<std::span<const double>> returns, prices, values;
};

// Exactly one of the three must be given. `settings` gives everything but the series.
[[nodiscard]] Result<StatsReport> series_report(const GivenSeries& given, ReportInput settings,
                                                Cancel& cancel = never_cancel());

}  // namespace quelm::stats

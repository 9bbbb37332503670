#include "quelm/stats/series.hpp"

namespace quelm::stats {

Result<StatsReport> series_report(const GivenSeries& given, ReportInput settings, Cancel& cancel) {
    const int n = int(given.returns.has_value()) + int(given.prices.has_value()) + int(given.values.has_value());
    if (n == 0) return bad_argument("provide exactly one of returns, prices, or values");
    if (n > 1) return bad_argument("use only one of returns, prices, or values");
    settings.values_only = false;
    settings.prices.reset();
    if (given.returns) return report_of(Source::Returns, *given.returns, settings, cancel);
    if (given.values) return report_of(Source::Values, *given.values, settings, cancel);
    return report_of(Source::Prices, *given.prices, settings, cancel);
}

}  // namespace quelm::stats

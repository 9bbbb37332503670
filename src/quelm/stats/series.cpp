#include "quelm/stats/series.hpp"

#include <vector>

#include "quelm/stats/returns.hpp"

namespace quelm::stats {

Result<StatsReport> series_report(const GivenSeries& given, ReportInput settings, Cancel& cancel) {
    const int n = int(given.returns.has_value()) + int(given.prices.has_value()) + int(given.values.has_value());
    if (n == 0) return bad_argument("provide exactly one of returns, prices, or values");
    if (n > 1) return bad_argument("use only one of returns, prices, or values");
    settings.values_only = false;
    settings.prices.reset();
    if (given.returns) {
        settings.series = *given.returns;
        return assemble(settings, cancel);
    }
    if (given.values) {
        settings.series = *given.values;
        settings.values_only = true;
        return assemble(settings, cancel);
    }
    QUELM_TRY(derived, simple_returns(*given.prices));
    settings.series = derived;
    settings.prices = given.prices;
    return assemble(settings, cancel);
}

}  // namespace quelm::stats

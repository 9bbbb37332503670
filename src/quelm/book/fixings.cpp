#include "quelm/book/fixings.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

#include "quelm/book/named.hpp"
#include "quelm/core/text.hpp"

namespace quelm::book {

Result<FixingTable> FixingTable::make(std::vector<FixingSeries> series) {
    std::sort(series.begin(), series.end(),
              [](const FixingSeries& a, const FixingSeries& b) { return a.index < b.index; });
    FixingTable t;
    std::size_t total = 0;
    for (const auto& s : series) total += s.fixings.size();
    t.dates_.reserve(total);
    t.rates_.reserve(total);
    t.starts_.push_back(0);
    for (std::size_t k = 0; k < series.size(); ++k) {
        FixingSeries& s = series[k];
        if (s.index.empty()) return bad_argument("fixing index names must not be empty");
        if (k > 0 && s.index == series[k - 1].index) return bad_argument("fixings of " + s.index + " are given twice");
        std::stable_sort(s.fixings.begin(), s.fixings.end(),
                         [](const Fixing& a, const Fixing& b) { return a.date < b.date; });
        for (std::size_t i = 0; i < s.fixings.size(); ++i) {
            const Fixing& f = s.fixings[i];
            if (!std::isfinite(f.rate))
                return invalid("fixing of " + s.index + " on " + dates::format_iso(f.date) + " must be finite, got " +
                               format_number(f.rate));
            if (i > 0 && f.date == s.fixings[i - 1].date)
                return bad_argument("fixings of " + s.index + " give " + dates::format_iso(f.date) + " twice");
            t.dates_.push_back(f.date);
            t.rates_.push_back(f.rate);
        }
        t.indices_.push_back(std::move(s.index));
        t.starts_.push_back(t.dates_.size());
    }
    return t;
}

std::span<const dates::Serial> FixingTable::dates(std::size_t k) const {
    return std::span<const dates::Serial>(dates_).subspan(starts_[k], starts_[k + 1] - starts_[k]);
}

std::span<const double> FixingTable::rates(std::size_t k) const {
    return std::span<const double>(rates_).subspan(starts_[k], starts_[k + 1] - starts_[k]);
}

Result<double> FixingTable::rate(std::string_view index, dates::Serial date) const {
    const auto at = std::lower_bound(indices_.begin(), indices_.end(), index,
                                     [](const std::string& a, std::string_view b) { return a < b; });
    if (at == indices_.end() || *at != index) {
        std::vector<std::string_view> names(indices_.begin(), indices_.end());
        return bad_argument("no fixings of " + std::string(index) + " in the market; it has fixings of " +
                            join_names(names));
    }
    const auto k = static_cast<std::size_t>(at - indices_.begin());
    const auto days = dates(k);
    const auto hit = std::lower_bound(days.begin(), days.end(), date);
    if (hit == days.end() || *hit != date)
        return bad_argument("no fixing of " + std::string(index) + " on " + dates::format_iso(date));
    return rates(k)[static_cast<std::size_t>(hit - days.begin())];
}

}  // namespace quelm::book

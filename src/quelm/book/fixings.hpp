// Past fixings of a market's rate indices ("sofr", "estr", "euribor-6m"): one rate per index
// and date, as decimals. Held flat (the index names sorted, each index's dates sorted in one
// run of two shared arrays), so a lookup is two binary searches and reads no allocation.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "quelm/core/error.hpp"
#include "quelm/dates/serial.hpp"

namespace quelm::book {

struct Fixing {
    dates::Serial date = 0;
    double rate = 0.0;
};

// An index's fixings as given: any order.
struct FixingSeries {
    std::string index;
    std::vector<Fixing> fixings;
};

class FixingTable {
public:
    // Index names non-empty and distinct, rates finite, each date given once per index.
    [[nodiscard]] static Result<FixingTable> make(std::vector<FixingSeries> series);

    // The rate of `index` on `date`, or the error naming both ("no fixing of sofr on
    // 2026-03-02"; an unknown index lists the indices there are).
    [[nodiscard]] Result<double> rate(std::string_view index, dates::Serial date) const;

    [[nodiscard]] std::span<const std::string> indices() const { return indices_; }  // sorted
    // Index k's fixings, by date.
    [[nodiscard]] std::span<const dates::Serial> dates(std::size_t k) const;
    [[nodiscard]] std::span<const double> rates(std::size_t k) const;

    friend bool operator==(const FixingTable&, const FixingTable&) = default;

private:
    std::vector<std::string> indices_;
    std::vector<std::size_t> starts_;  // index k's run is [starts_[k], starts_[k + 1])
    std::vector<dates::Serial> dates_;
    std::vector<double> rates_;
};

}  // namespace quelm::book

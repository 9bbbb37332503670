// FX spots of a market: currency pairs as six letters, base then quote ("EURUSD" 1.08 is
// the price of one euro in dollars), held sorted for binary search. A pair not given is
// answered from its inverse, exactly 1.0 / spot; a currency in itself is 1. No cross is
// made through a third currency: the market answers the pairs it was given.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "quelm/core/error.hpp"

namespace quelm::book {

struct FxSpot {
    std::string pair;  // six upper-case letters
    double spot = 0.0;
    friend bool operator==(const FxSpot&, const FxSpot&) = default;
};

// Six ASCII letters in either case, as upper case; otherwise an error quoting the text.
[[nodiscard]] Result<std::string> parse_pair(std::string_view text);

class FxTable {
public:
    // Spots positive and finite; a pair given twice, or with its inverse, is an error.
    [[nodiscard]] static Result<FxTable> make(std::vector<FxSpot> spots);

    [[nodiscard]] Result<double> rate(std::string_view pair) const;
    [[nodiscard]] std::span<const FxSpot> spots() const { return spots_; }  // by pair

    friend bool operator==(const FxTable&, const FxTable&) = default;

private:
    [[nodiscard]] const FxSpot* find(std::string_view pair) const;
    std::vector<FxSpot> spots_;
};

}  // namespace quelm::book

#include "quelm/book/fx.hpp"

#include <algorithm>
#include <cmath>

#include "quelm/book/named.hpp"
#include "quelm/core/text.hpp"

namespace quelm::book {

namespace {

std::string inverse_of(std::string_view pair) { return std::string(pair.substr(3)) + std::string(pair.substr(0, 3)); }

}  // namespace

Result<std::string> parse_pair(std::string_view text) {
    std::string pair(text);
    bool letters = pair.size() == 6;
    for (char& c : pair) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        letters = letters && c >= 'A' && c <= 'Z';
    }
    if (!letters) return bad_argument("fx pair " + quote_literal(text) + " is not six letters, such as \"EURUSD\"");
    return pair;
}

Result<FxTable> FxTable::make(std::vector<FxSpot> spots) {
    for (FxSpot& s : spots) {
        QUELM_TRY(pair, parse_pair(s.pair));
        if (pair.compare(0, 3, pair, 3, 3) == 0)
            return bad_argument("fx pair " + pair + " quotes a currency in itself");
        if (!(std::isfinite(s.spot) && s.spot > 0.0))
            return invalid("fx spot of " + pair + " must be positive and finite, got " + format_number(s.spot));
        s.pair = std::move(pair);
    }
    std::sort(spots.begin(), spots.end(), [](const FxSpot& a, const FxSpot& b) { return a.pair < b.pair; });
    FxTable t;
    t.spots_ = std::move(spots);
    for (std::size_t i = 0; i < t.spots_.size(); ++i) {
        const std::string& pair = t.spots_[i].pair;
        if (i > 0 && pair == t.spots_[i - 1].pair) return bad_argument("fx pair " + pair + " is given twice");
        const std::string inverse = inverse_of(pair);
        // Each clash is reported once, at the pair that sorts first.
        if (pair < inverse && t.find(inverse) != nullptr)
            return bad_argument("fx gives both " + pair + " and " + inverse + ": give one, the other is its inverse");
    }
    return t;
}

const FxSpot* FxTable::find(std::string_view pair) const {
    const auto at = std::lower_bound(spots_.begin(), spots_.end(), pair,
                                     [](const FxSpot& s, std::string_view p) { return s.pair < p; });
    return at != spots_.end() && at->pair == pair ? &*at : nullptr;
}

Result<double> FxTable::rate(std::string_view text) const {
    QUELM_TRY(pair, parse_pair(text));
    if (pair.compare(0, 3, pair, 3, 3) == 0) return 1.0;
    if (const FxSpot* s = find(pair)) return s->spot;
    const std::string inverse = inverse_of(pair);
    if (const FxSpot* s = find(inverse)) return 1.0 / s->spot;
    std::vector<std::string_view> pairs;
    for (const FxSpot& s : spots_) pairs.push_back(s.pair);
    return bad_argument("no fx pair " + pair + " (nor " + inverse + ") in the market; it has " + join_names(pairs));
}

}  // namespace quelm::book

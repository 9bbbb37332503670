#include "quelm/book/quote_label.hpp"

#include <algorithm>
#include <variant>

#include "quelm/curves/bootstrap.hpp"
#include "quelm/dates/serial.hpp"

namespace quelm::book {
namespace {

using curves::tenor_text;

// A trade's start as the point's prefix: nothing from spot, else "<start>x".
std::string start_of(const curves::Trade& t) {
    if (const auto* d = std::get_if<dates::Serial>(&t.effective)) return dates::format_iso(*d) + "x";
    if (const auto* f = std::get_if<dates::Tenor>(&t.effective)) return tenor_text(*f) + "x";
    return {};
}

// The end: the tenor, or the maturity date when the trade gives one instead.
std::string end_of(const std::optional<dates::Tenor>& tenor, const curves::Trade& t) {
    if (tenor) return tenor_text(*tenor);
    return t.maturity ? dates::format_iso(*t.maturity) : std::string("?");
}

}  // namespace

std::string quote_point(const curves::Instrument& quote) {
    return std::visit(
        [](const auto& q) -> std::string {
            using Q = std::decay_t<decltype(q)>;
            if constexpr (std::is_same_v<Q, curves::Fra>) {
                const std::string start = q.start ? tenor_text(*q.start) + "x" : start_of(q.trade);
                return start + end_of(q.end, q.trade);
            } else if constexpr (std::is_same_v<Q, curves::Future>) {
                return "fut " + dates::format_iso(q.start);
            } else if constexpr (std::is_same_v<Q, curves::BondQuote>) {
                return "bond " + dates::format_iso(q.bond.terms().maturity);
            } else {
                return start_of(q.trade) + end_of(q.tenor, q.trade);
            }
        },
        quote);
}

std::string quote_label(std::string_view curve, const curves::Instrument& quote) {
    return std::string(curve) + " " + quote_point(quote);
}

Result<std::vector<std::string>> quote_labels(std::string_view curve, const std::vector<curves::Instrument>& quotes) {
    std::vector<std::string> labels;
    labels.reserve(quotes.size());
    for (const auto& q : quotes) labels.push_back(quote_label(curve, q));
    std::vector<std::string> sorted = labels;
    std::sort(sorted.begin(), sorted.end());
    if (const auto twin = std::adjacent_find(sorted.begin(), sorted.end()); twin != sorted.end())
        return invalid("two quotes of curve " + std::string(curve) + " are both labelled " + *twin);
    return labels;
}

Result<std::vector<std::string>> market_quote_labels(const Market& market) {
    std::vector<std::string> all;
    for (const auto& c : market.curves().items()) {
        const auto& state = c.value->bootstrap_state();
        if (!state) continue;
        QUELM_TRY(labels, quote_labels(c.name, state->spec.instruments));
        all.insert(all.end(), labels.begin(), labels.end());
    }
    return all;
}

}  // namespace quelm::book

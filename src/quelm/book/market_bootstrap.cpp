#include "quelm/book/market_bootstrap.hpp"

#include <algorithm>
#include <utility>

#include "quelm/curves/bootstrap.hpp"

namespace quelm::book {

namespace {

using curves::YieldCurve;

// Where a discount name points: a curve built here (its position in `quotes`) or one given.
struct Lookup {
    const std::vector<CurveQuotes>& quotes;
    const std::vector<Named<YieldCurve>>& given;

    [[nodiscard]] std::optional<std::size_t> built(std::string_view name) const {
        for (std::size_t i = 0; i < quotes.size(); ++i)
            if (quotes[i].name == name) return i;
        return std::nullopt;
    }
    [[nodiscard]] std::shared_ptr<const YieldCurve> held(std::string_view name) const {
        for (const auto& c : given)
            if (c.name == name) return c.value;
        return nullptr;
    }
    [[nodiscard]] std::vector<std::string_view> names() const {
        std::vector<std::string_view> all;
        for (const auto& q : quotes) all.push_back(q.name);
        for (const auto& c : given) all.push_back(c.name);
        std::sort(all.begin(), all.end());
        return all;
    }
};

// The build order: each curve after the curve built here that it discounts on. Depth first
// from each curve in the order given; `state` 1 marks the curves on the current path, so
// meeting one again is a loop.
Status order_from(const Lookup& at, std::size_t i, std::vector<unsigned char>& state, std::vector<std::size_t>& path,
                  std::vector<std::size_t>& order) {
    if (state[i] == 2) return {};
    if (state[i] == 1) {
        const auto from = std::find(path.begin(), path.end(), i);
        std::string loop;
        for (auto p = from; p != path.end(); ++p) loop += at.quotes[*p].name + " -> ";
        return bad_argument("the discount curves go round a loop: " + loop + at.quotes[i].name);
    }
    state[i] = 1;
    path.push_back(i);
    const CurveQuotes& q = at.quotes[i];
    if (q.discount_name) {
        if (const auto j = at.built(*q.discount_name)) {
            QUELM_CHECK(order_from(at, *j, state, path, order));
        } else if (at.held(*q.discount_name) == nullptr) {
            return bad_argument("curve " + q.name + " discounts on " + *q.discount_name +
                                ", which is not a curve of the market; it has " + join_names(at.names()));
        }
    }
    path.pop_back();
    state[i] = 2;
    order.push_back(i);
    return {};
}

Result<std::vector<std::size_t>> build_order(const Lookup& at) {
    std::vector<unsigned char> state(at.quotes.size(), 0);
    std::vector<std::size_t> path, order;
    for (std::size_t i = 0; i < at.quotes.size(); ++i) QUELM_CHECK(order_from(at, i, state, path, order));
    return order;
}

}  // namespace

Result<Market> bootstrap_market(MarketParts parts, std::vector<CurveQuotes> quotes, Cancel& cancel) {
    for (std::size_t i = 0; i < quotes.size(); ++i) {
        if (quotes[i].name.empty()) return bad_argument("curve names must not be empty");
        for (std::size_t j = 0; j < i; ++j)
            if (quotes[j].name == quotes[i].name) return bad_argument("curve " + quotes[i].name + " is given twice");
    }
    const Lookup at{quotes, parts.curves};
    QUELM_TRY(order, build_order(at));
    std::vector<std::shared_ptr<const YieldCurve>> built(quotes.size());
    for (const std::size_t i : order) {
        const CurveQuotes& q = quotes[i];
        const auto failed = [&](Error e) {
            e.text = "curve " + q.name + ": " + e.text;
            return std::unexpected(std::move(e));
        };
        if (auto ok = curves::check_period_day_count("bootstrap", "day_count", q.day_count); !ok)
            return failed(std::move(ok.error()));
        curves::BootstrapSpec spec;
        spec.reference = parts.reference;
        spec.instruments = q.instruments;
        spec.day_count = q.day_count;
        spec.interp = q.interp;
        spec.extrapolate = q.extrapolate;
        if (q.discount_name) {
            const auto j = at.built(*q.discount_name);
            spec.discount = j ? built[*j] : at.held(*q.discount_name);
        } else {
            spec.discount = q.discount_curve;
        }
        auto curve = curves::bootstrap(std::move(spec), cancel);
        if (!curve) {
            if (is_cancelled(curve.error())) return std::unexpected(std::move(curve.error()));
            return failed(std::move(curve.error()));
        }
        built[i] = std::make_shared<const YieldCurve>(std::move(*curve));
    }
    for (std::size_t i = 0; i < quotes.size(); ++i) parts.curves.push_back({std::move(quotes[i].name), built[i]});
    return Market::make(std::move(parts));
}

}  // namespace quelm::book

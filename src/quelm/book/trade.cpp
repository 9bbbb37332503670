#include "quelm/book/trade.hpp"

#include <variant>

#include "quelm/book/cds_trade.hpp"
#include "quelm/curves/pricing.hpp"

namespace quelm::book {

std::string_view kind_of(const curves::BookItem& item) {
    if (std::holds_alternative<bonds::DatedBond>(item)) return "bond";
    if (std::holds_alternative<curves::FloatingRateNote>(item)) return "floating rate note";
    return std::visit(
        [](const auto& q) -> std::string_view {
            using Q = std::decay_t<decltype(q)>;
            if constexpr (std::is_same_v<Q, curves::Deposit>) return "deposit";
            else if constexpr (std::is_same_v<Q, curves::Fra>) return "fra";
            else if constexpr (std::is_same_v<Q, curves::Future>) return "future";
            else if constexpr (std::is_same_v<Q, curves::Ois>) return "ois";
            else if constexpr (std::is_same_v<Q, curves::Swap>) return "swap";
            else return "bond quote";
        },
        std::get<curves::Instrument>(item));
}

std::string_view index_curve(curves::OvernightIndex index) {
    switch (index) {
        case curves::OvernightIndex::Sofr: return "usd-sofr";
        case curves::OvernightIndex::Estr: return "eur-estr";
        case curves::OvernightIndex::Sonia: return "gbp-sonia";
        case curves::OvernightIndex::Tona: return "jpy-tona";
    }
    return "";
}

Result<MarketTradeValue> value_market_trade(const Position& p, const Market& market, bool with_risk) {
    if (const auto* f = std::get_if<FxForward>(&p)) return value_fx_forward(*f, market, with_risk);
    if (const auto* o = std::get_if<EuropeanOption>(&p)) return value_option(*o, market, with_risk);
    if (const auto* a = std::get_if<AmericanOption>(&p)) return value_american(*a, market, with_risk);
    if (const auto* b = std::get_if<BarrierOption>(&p)) return value_barrier(*b, market, with_risk);
    if (const auto* c = std::get_if<credit::Cds>(&p)) return value_cds(*c, market, with_risk);
    if (const auto* s = std::get_if<rates::Swaption>(&p)) return value_swaption(*s, market, with_risk);
    if (const auto* c = std::get_if<rates::CapFloor>(&p)) return value_cap_floor(*c, market, with_risk);
    if (const auto* b = std::get_if<rates::BermudanSwaption>(&p)) return value_bermudan(*b, market, with_risk);
    return value_fx_option(std::get<FxOption>(p), market, with_risk);
}

std::string_view name_in(const Market& market, const curves::YieldCurve* curve) {
    for (const auto& c : market.curves().items())
        if (c.value.get() == curve) return c.name;
    return "";
}

namespace {

// The index an instrument's terms were taken from, if any.
std::optional<curves::OvernightIndex> index_of(const curves::BookItem& item) {
    if (const auto* i = std::get_if<curves::Instrument>(&item)) {
        if (const auto* o = std::get_if<curves::Ois>(i)) return o->index;
        if (const auto* f = std::get_if<curves::Future>(i)) return f->index;
    }
    return std::nullopt;
}

Result<std::string> default_curve(const CurveTrade& p, const Market& market) {
    if (const auto index = index_of(p.item)) return std::string(index_curve(*index));
    const auto names = market.curves().names();
    if (names.size() == 1) return std::string(names[0]);
    return bad_argument(std::string(kind_of(p.item)) + ": name its curve (curve=...); the market has " + join_names(names));
}

}  // namespace

Result<PricedOn> priced_on(const CurveTrade& p, const Market& market) {
    std::string curve, discount;
    if (const auto* i = std::get_if<curves::Instrument>(&p.item)) {
        const curves::Trade& t = curves::trade_of(*i);
        curve = t.curve;
        discount = t.discount_curve;
    } else if (const auto* n = std::get_if<curves::FloatingRateNote>(&p.item)) {
        curve = n->curve;
        discount = n->discount_curve;
    } else {
        curve = p.bond_curve;
    }
    if (curve.empty()) {
        QUELM_TRY(name, default_curve(p, market));
        curve = std::move(name);
    }
    PricedOn on;
    QUELM_TRY(projection, market.curve(curve));
    on.curve = std::move(curve);
    on.projection = std::move(projection);
    const curves::YieldCurve* built = curves::pricing_curves(*on.projection, nullptr).discount;
    if (discount.empty()) {
        on.discount_curve = built;
        on.discount = std::string(name_in(market, built));
    } else {
        QUELM_TRY(d, market.curve(discount));
        on.discount_curve = d.get();
        on.discount = std::move(discount);
    }
    on.built_pair = on.discount_curve == built;
    return on;
}

}  // namespace quelm::book

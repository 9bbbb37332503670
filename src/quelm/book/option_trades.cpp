// The option trades of a book: a European option on a market surface, an FX option on the
// spot and two curves.
#include <cmath>
#include <optional>

#include "quelm/book/fd_option_trades.hpp"
#include "quelm/book/market_trade.hpp"
#include "quelm/book/fx_smile_vol.hpp"
#include "quelm/book/trade_parts.hpp"
#include "quelm/book/fx.hpp"
#include "quelm/core/math/elementary.hpp"
#include "quelm/core/text.hpp"
#include "quelm/pricing/black/black_scholes.hpp"
#include "quelm/pricing/vanilla/greeks.hpp"

namespace quelm::book {

namespace {

using parts::named;

Error past(std::string_view what, dates::Serial date, const Market& market) {
    return Error{Kind::Argument, std::string(what) + " on " + dates::format_iso(date) + ", not after the market's date " +
                                     dates::format_iso(market.reference_date())};
}

TradeGreeks scaled(const greeks::Greeks& g, double n) {
    return {n * g.delta, n * g.gamma, n * g.vega * parts::kVolPoint, n * g.theta};
}

}  // namespace

Result<MarketTradeValue> value_option(const EuropeanOption& o, const Market& market, bool with_risk) {
    if (o.by_fd) return value_european_fd(o, market, with_risk);
    const auto fail = [&](const Error& e) { return std::unexpected(named("option on " + o.underlying, e)); };
    if (o.expiry <= market.reference_date()) return fail(past("expired", o.expiry, market));
    auto surface = market.surface(o.underlying);
    if (!surface) return fail(surface.error());
    std::string name = o.curve;
    if (name.empty()) {
        auto c = parts::only_curve(market, "option on " + o.underlying);
        if (!c) return std::unexpected(c.error());
        name = std::move(*c);
    }
    auto d = parts::discounting(market, name);
    if (!d) return fail(d.error());
    auto t = d->curve->time_of(o.expiry);
    if (!t) return fail(t.error());
    auto p = d->curve->discount_on(o.expiry);
    if (!p) return fail(p.error());
    auto forward = (*surface)->forward(*t);
    if (!forward) return fail(forward.error());
    auto at = parts::surface_vol(market, o.underlying, o.strike, *t);
    if (!at) return fail(at.error());
    // Black-Scholes inputs that reproduce the surface's forward and the curve's discount.
    const double spot = (*surface)->curve().spot.value_or(*forward);
    const double rate = -quelm::log(*p) / *t;
    const double dividend = rate - quelm::log(*forward / spot) / *t;
    const OptionContract contract{o.strike, *t, o.type};
    const MarketInputs inputs{spot, rate, at->vol, dividend};
    auto price = pricing::black_scholes(contract, inputs);
    if (!price) return fail(price.error());
    MarketTradeValue v;
    v.value = o.notional * *price;
    if (!with_risk) return v;
    // The surface fixes the forward, so the curve moves the value through the discount
    // factor alone: the undiscounted price paid at expiry.
    auto leg = parts::leg_on(*d, name, o.expiry, o.notional * *price / *p);
    if (!leg) return fail(leg.error());
    v.legs.push_back(std::move(*leg));
    auto g = greeks::analytic_greeks(contract, inputs);
    if (!g) return fail(g.error());
    v.greeks = scaled(*g, o.notional);
    auto vegas = parts::slice_vegas(*at, o.strike, *t, v.greeks->vega);
    if (!vegas) return fail(vegas.error());
    v.vega = std::move(*vegas);
    return v;
}

Result<MarketTradeValue> value_fx_option(const FxOption& o, const Market& market, bool with_risk) {
    const auto fail = [&](const Error& e) { return std::unexpected(named("fx option " + o.pair, e)); };
    if (o.expiry <= market.reference_date()) return fail(past("expired", o.expiry, market));
    // An FX smile of the market by that name, or by the pair's (any case), before a surface.
    std::string surface = o.surface;
    const FxVols* smile = nullptr;
    if (surface.empty()) {
        for (const auto& s : market.fx_vols().items())
            if (s.name.size() == 6 && parse_pair(s.name).value_or("") == o.pair) {
                surface = s.name;
                smile = s.value.get();
            }
    } else if (const auto* s = market.fx_vols().find(surface)) {
        smile = s->get();
    }
    if (surface.empty()) {
        for (const auto& s : market.surfaces().items())
            if (s.name.size() == 6 && parse_pair(s.name).value_or("") == o.pair) surface = s.name;
        if (surface.empty())
            return fail(Error{Kind::Argument, "no surface named " + o.pair + " in the market: name its surface "
                                              "(surface=...)"});
    }
    auto pair = parts::pair_at(market, o.pair, o.domestic_curve, o.foreign_curve, o.expiry);
    if (!pair) return fail(pair.error());
    auto t = pair->domestic.curve->time_of(o.expiry);
    if (!t) return fail(t.error());
    const double spot = pair->spot, pd = pair->pd, pf = pair->pf;
    std::optional<parts::SurfaceVol> at;
    std::shared_ptr<const RebuiltSmiles> on_smile;
    double vol = 0.0;
    if (smile) {
        auto r = rebuilt_smiles(market, *pair, *smile, with_risk);
        if (!r) return fail(named("FX smile " + surface, r.error()));
        on_smile = std::move(*r);
        auto v = smile_set_vol(on_smile->base, smile->surface, o.strike, *t);
        if (!v) return fail(named("FX smile " + surface, v.error()));
        vol = *v;
    } else {
        auto v = parts::surface_vol(market, surface, o.strike, *t);
        if (!v) return fail(v.error());
        at = *v;
        vol = at->vol;
    }
    // Garman-Kohlhagen: Black-Scholes with the foreign rate as the dividend yield.
    const double rd = -quelm::log(pd) / *t, rf = -quelm::log(pf) / *t;
    const OptionContract contract{o.strike, *t, o.type};
    const MarketInputs inputs{spot, rd, vol, rf};
    auto price = pricing::black_scholes(contract, inputs);
    if (!price) return fail(price.error());
    // In the premium currency: the quote value, or over the spot in the base.
    const double unit = o.premium_in_base ? 1.0 / spot : 1.0;
    MarketTradeValue v;
    v.value = o.notional * *price * unit;
    if (!with_risk) return v;
    auto greeks = greeks::analytic_greeks(contract, inputs);
    if (!greeks) return fail(greeks.error());
    // V = P_d B(F), F = S P_f / P_d: dV/dP_f = B'(F) S, dV/dP_d = B - B'(F) F, with B'(F)
    // the delta over P_f.
    const double forward = spot * pf / pd;
    const double undiscounted = *price / pd, forward_delta = greeks->delta / pf;
    const double size = o.notional * unit;
    auto foreign_leg = parts::leg_on(pair->foreign, pair->names.foreign, o.expiry, size * forward_delta * spot);
    if (!foreign_leg) return fail(foreign_leg.error());
    auto domestic_leg = parts::leg_on(pair->domestic, pair->names.domestic, o.expiry,
                                      size * (undiscounted - forward_delta * forward));
    if (!domestic_leg) return fail(domestic_leg.error());
    v.legs = {std::move(*foreign_leg), std::move(*domestic_leg)};
    // The price's slope in the spot: at its vol, plus through the smile rebuilt on it.
    double price_delta = greeks->delta;
    if (smile) {
        auto slopes = smile_slopes(*on_smile, *smile, o.strike, *t);
        if (!slopes) return fail(named("FX smile " + surface, slopes.error()));
        const double vega = size * greeks->vega;  // per unit of vol
        price_delta += greeks->vega * slopes->spot;
        // Each smile reads its zero rates r = -ln P(expiry) / t_smile: dr/dP = -1 / (t P).
        for (std::size_t i = 0; i < on_smile->expiries.size(); ++i) {
            const double ts = on_smile->base.smiles[i].quotes().t;
            auto d = parts::leg_on(pair->domestic, pair->names.domestic, on_smile->expiries[i],
                                   -vega * slopes->rd[i] / (ts * on_smile->pd[i]));
            if (!d) return fail(d.error());
            auto f = parts::leg_on(pair->foreign, pair->names.foreign, on_smile->expiries[i],
                                   -vega * slopes->rf[i] / (ts * on_smile->pf[i]));
            if (!f) return fail(f.error());
            v.legs.push_back(std::move(*d));
            v.legs.push_back(std::move(*f));
        }
        const auto columns = fx_quote_columns(surface, *smile);
        for (std::size_t k = 0; k < columns.size(); ++k)
            v.quotes.push_back({columns[k].label, vega * slopes->quotes[k] * parts::kVolPoint});
    }
    // Per unit of the spot: d(V unit)/dS, a base premium's 1/S included.
    double delta = o.notional * price_delta;
    if (o.premium_in_base) delta = delta / spot - o.notional * *price / (spot * spot);
    v.fx = parts::fx_deltas(market, o.pair, delta);
    v.greeks = scaled(*greeks, o.notional * unit);
    if (smile) return v;
    auto vegas = parts::slice_vegas(*at, o.strike, *t, v.greeks->vega);
    if (!vegas) return fail(vegas.error());
    v.vega = std::move(*vegas);
    return v;
}

}  // namespace quelm::book

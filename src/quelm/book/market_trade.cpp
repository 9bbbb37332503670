#include "quelm/book/market_trade.hpp"

#include <cmath>

#include "quelm/book/trade.hpp"
#include "quelm/core/text.hpp"
#include "quelm/curves/pricing.hpp"
#include "quelm/pricing/black/black_scholes.hpp"
#include "quelm/pricing/vanilla/greeks.hpp"

namespace quelm::book {

namespace {

constexpr double kVolPoint = 0.01;

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

Error named(const std::string& what, const Error& e) { return Error{e.kind, what + ": " + e.text}; }

std::optional<std::size_t> curve_index(const Market& market, const curves::YieldCurve* curve) {
    const auto items = market.curves().items();
    for (std::size_t i = 0; i < items.size(); ++i)
        if (items[i].value.get() == curve) return i;
    return std::nullopt;
}

// The curve a trade discounts on: the named curve's own discount curve (itself, or the one
// it was built on), so that its value and its risk read the same discount factors.
struct Discounting {
    const curves::YieldCurve* curve = nullptr;
    std::optional<std::size_t> index;  // in the market, when it is a market curve
};
Result<Discounting> discounting(const Market& market, const std::string& name) {
    QUELM_TRY(c, market.curve(name));
    Discounting d;
    d.curve = curves::pricing_curves(*c, nullptr).discount;
    d.index = curve_index(market, d.curve);
    return d;
}

Result<CurveLeg> leg_on(const Discounting& d, const std::string& name, dates::Serial date, double amount) {
    if (!d.index)
        return bad_argument("curve " + name + " discounts on a curve from outside the market: its quotes have no labels to be risked by");
    const curves::Flow flow{date, amount};
    return CurveLeg{*d.index, std::make_shared<const curves::Layout>(curves::lay_out_flows({&flow, 1}))};
}

Result<std::string> only_curve(const Market& market, const std::string& what) {
    const auto names = market.curves().names();
    if (names.size() == 1) return std::string(names[0]);
    return bad_argument(what + ": name its curve (curve=...); the market has " + join_names(names));
}

}  // namespace

Status check(const FxForward& f) {
    if (!(std::isfinite(f.strike) && f.strike > 0.0))
        return bad_argument("fx forward: strike must be positive and finite, got " + format_number(f.strike));
    if (!std::isfinite(f.notional))
        return bad_argument("fx forward: notional must be finite, got " + format_number(f.notional));
    return {};
}

Status check(const EuropeanOption& o) {
    if (o.underlying.empty()) return bad_argument("european option: underlying must not be empty");
    if (!(std::isfinite(o.strike) && o.strike > 0.0))
        return bad_argument("european option: strike must be positive and finite, got " + format_number(o.strike));
    if (!std::isfinite(o.notional))
        return bad_argument("european option: notional must be finite, got " + format_number(o.notional));
    return {};
}

std::string describe(const FxForward& f) {
    return "<FxForward " + f.pair + " " + format_number(f.strike) + " on " + dates::format_iso(f.maturity) + ">";
}

std::string describe(const EuropeanOption& o) {
    return "<EuropeanOption " + std::string(o.type == OptionType::Call ? "call" : "put") + " on " + o.underlying +
           " " + format_number(o.strike) + " expiring " + dates::format_iso(o.expiry) + ">";
}

Result<std::string> currency_curve(const Market& market, std::string_view currency, std::string_view keyword) {
    const std::string prefix = lower(currency) + "-";
    std::vector<std::string_view> found;
    for (const auto& c : market.curves().items())
        if (c.name.starts_with(prefix) && curves::pricing_curves(*c.value, nullptr).discount == c.value.get())
            found.push_back(c.name);
    if (found.size() == 1) return std::string(found[0]);
    const std::string lead = found.empty() ? "the market has no " + lower(currency) + " curve that discounts on itself"
                                           : "the market has several " + lower(currency) + " curves (" +
                                                 join_names(found) + ")";
    return bad_argument(lead + ": name one (" + std::string(keyword) + "=...); the market has " +
                        join_names(market.curves().names()));
}

Result<MarketTradeValue> value_fx_forward(const FxForward& f, const Market& market, bool with_risk) {
    // The trade's name is made only for an error.
    const auto fail = [&](const Error& e) { return std::unexpected(named("fx forward " + f.pair, e)); };
    if (f.maturity <= market.reference_date())
        return fail(Error{Kind::Argument, "matured on " + dates::format_iso(f.maturity) + ", not after the market's date " +
                                              dates::format_iso(market.reference_date())});
    const std::string_view base = std::string_view(f.pair).substr(0, 3), quote = std::string_view(f.pair).substr(3);
    std::string found_dom, found_fgn;
    if (f.domestic_curve.empty()) {
        auto c = currency_curve(market, quote, "domestic_curve");
        if (!c) return fail(c.error());
        found_dom = std::move(*c);
    }
    if (f.foreign_curve.empty()) {
        auto c = currency_curve(market, base, "foreign_curve");
        if (!c) return fail(c.error());
        found_fgn = std::move(*c);
    }
    const std::string& dom = f.domestic_curve.empty() ? found_dom : f.domestic_curve;
    const std::string& fgn = f.foreign_curve.empty() ? found_fgn : f.foreign_curve;
    auto d = discounting(market, dom);
    if (!d) return fail(d.error());
    auto g = discounting(market, fgn);
    if (!g) return fail(g.error());
    auto spot = market.fx(f.pair);
    if (!spot) return fail(spot.error());
    auto pd = d->curve->discount_on(f.maturity);
    if (!pd) return fail(pd.error());
    auto pf = g->curve->discount_on(f.maturity);
    if (!pf) return fail(pf.error());
    MarketTradeValue v;
    v.value = f.notional * (*spot * *pf - f.strike * *pd);
    if (!with_risk) return v;
    auto foreign_leg = leg_on(*g, fgn, f.maturity, f.notional * *spot);
    if (!foreign_leg) return fail(foreign_leg.error());
    auto domestic_leg = leg_on(*d, dom, f.maturity, -f.notional * f.strike);
    if (!domestic_leg) return fail(domestic_leg.error());
    v.legs = {std::move(*foreign_leg), std::move(*domestic_leg)};
    // Per unit of the spot the market holds: the pair itself, or its inverse (S = 1 / s).
    const auto spots = market.fx_spots().spots();
    const std::string inverse = std::string(quote) + std::string(base);
    for (std::size_t i = 0; i < spots.size(); ++i) {
        if (spots[i].pair == f.pair) v.fx.push_back({i, f.notional * *pf});
        else if (spots[i].pair == inverse)
            v.fx.push_back({i, -f.notional * *pf / (spots[i].spot * spots[i].spot)});
    }
    return v;
}

Result<MarketTradeValue> value_option(const EuropeanOption& o, const Market& market, bool with_risk) {
    const auto fail = [&](const Error& e) { return std::unexpected(named("option on " + o.underlying, e)); };
    if (o.expiry <= market.reference_date())
        return fail(Error{Kind::Argument, "expired on " + dates::format_iso(o.expiry) + ", not after the market's date " +
                                              dates::format_iso(market.reference_date())});
    auto surface = market.surface(o.underlying);
    if (!surface) return fail(surface.error());
    std::string name = o.curve;
    if (name.empty()) {
        auto c = only_curve(market, "option on " + o.underlying);
        if (!c) return std::unexpected(c.error());
        name = std::move(*c);
    }
    auto d = discounting(market, name);
    if (!d) return fail(d.error());
    auto t = d->curve->time_of(o.expiry);
    if (!t) return fail(t.error());
    auto p = d->curve->discount_on(o.expiry);
    if (!p) return fail(p.error());
    const volatility::VolSurface& s = **surface;
    auto forward = s.forward(*t);
    if (!forward) return fail(forward.error());
    auto vol = s.vol(o.strike, *t);
    if (!vol) return fail(vol.error());
    if (!std::isfinite(*vol))
        return fail(Error{Kind::InvalidInput, "the surface has no volatility at strike " + format_number(o.strike) +
                                                  " and t = " + format_number(*t)});
    // Black-Scholes inputs that reproduce the surface's forward and the curve's discount.
    const double spot = s.curve().spot.value_or(*forward);
    const double rate = -std::log(*p) / *t;
    const double dividend = rate - std::log(*forward / spot) / *t;
    const OptionContract contract{o.strike, *t, o.type};
    const MarketInputs inputs{spot, rate, *vol, dividend};
    auto price = pricing::black_scholes(contract, inputs);
    if (!price) return fail(price.error());
    MarketTradeValue v;
    v.value = o.notional * *price;
    if (!with_risk) return v;
    // The surface fixes the forward, so the curve moves the value through the discount
    // factor alone: the undiscounted price paid at expiry.
    auto leg = leg_on(*d, name, o.expiry, o.notional * *price / *p);
    if (!leg) return fail(leg.error());
    v.legs.push_back(std::move(*leg));
    auto g = greeks::analytic_greeks(contract, inputs);
    if (!g) return fail(g.error());
    v.greeks = TradeGreeks{o.notional * g->delta, o.notional * g->gamma, o.notional * g->vega * kVolPoint,
                           o.notional * g->theta};
    // Vega by slice: the volatility at this log-moneyness is interpolated in total variance
    // between the two slices around t (flat in volatility outside them), so a point on
    // slice j moves it by λ_j σ_j t_j / (σ t).
    std::size_t surface_index = 0;
    const auto surfaces = market.surfaces().items();
    while (surfaces[surface_index].value.get() != &s) ++surface_index;
    const auto slices = s.slices();
    const double total = v.greeks->vega;
    const std::size_t last = slices.size() - 1;
    if (*t <= slices.front().t) {
        v.vega.push_back({surface_index, 0, total});
    } else if (*t >= slices[last].t) {
        v.vega.push_back({surface_index, last, total});
    } else {
        std::size_t i = 0;
        while (slices[i + 1].t <= *t) ++i;
        const double x = (*t - slices[i].t) / (slices[i + 1].t - slices[i].t);
        const double moneyness = o.strike / *forward;
        for (const auto& [j, weight] : {std::pair{i, 1.0 - x}, std::pair{i + 1, x}}) {
            auto fj = s.forward(slices[j].t);
            if (!fj) return fail(fj.error());
            auto vj = s.vol(*fj * moneyness, slices[j].t);
            if (!vj) return fail(vj.error());
            v.vega.push_back({surface_index, j, total * weight * *vj * slices[j].t / (*vol * *t)});
        }
    }
    return v;
}

}  // namespace quelm::book

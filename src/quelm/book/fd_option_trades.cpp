#include "quelm/book/fd_option_trades.hpp"

#include <cmath>
#include <optional>

#include "quelm/book/trade_parts.hpp"
#include "quelm/core/math/elementary.hpp"
#include "quelm/core/text.hpp"
#include "quelm/fd/black_scholes_fd.hpp"

namespace quelm::book {

namespace {

using parts::named;

// Central differences of the engine's price on one grid: in the rate with the forward held
// (the dividend yield moving with it) and in the volatility. Steps small against the inputs
// yet far above the solves' rounding (prices are smooth in both on a fixed grid).
constexpr double kRateStep = 1e-5, kVolStep = 1e-5;

std::string_view side(OptionType t) { return t == OptionType::Call ? "call" : "put"; }

std::string_view barrier_name(pricing::BarrierType t) {
    switch (t) {
        case pricing::BarrierType::DownIn: return "down-in";
        case pricing::BarrierType::DownOut: return "down-out";
        case pricing::BarrierType::UpIn: return "up-in";
        case pricing::BarrierType::UpOut: return "up-out";
    }
    return "";
}

Status check_terms(std::string_view what, const std::string& underlying, double strike, double notional) {
    const std::string w(what);
    if (underlying.empty()) return bad_argument(w + ": underlying must not be empty");
    if (!(std::isfinite(strike) && strike > 0.0))
        return bad_argument(w + ": strike must be positive and finite, got " + format_number(strike));
    if (!std::isfinite(notional)) return bad_argument(w + ": notional must be finite, got " + format_number(notional));
    return {};
}

// What both trades read: the market's inputs at expiry and the contract for the engine.
struct Terms {
    const std::string& underlying;
    double strike;
    dates::Serial expiry;
    double notional;
    const std::string& curve;
    fd::FdContract contract;  // its expiry filled in here
};

Result<MarketTradeValue> value_fd(Terms terms, const Market& market, bool with_risk) {
    const std::string what = "option on " + terms.underlying;
    const auto fail = [&](const Error& e) { return std::unexpected(named(what, e)); };
    if (terms.expiry <= market.reference_date())
        return fail(Error{Kind::Argument, "expired on " + dates::format_iso(terms.expiry) +
                                              ", not after the market's date " +
                                              dates::format_iso(market.reference_date())});
    auto surface = market.surface(terms.underlying);
    if (!surface) return fail(surface.error());
    std::string name = terms.curve;
    if (name.empty()) {
        auto c = parts::only_curve(market, what);
        if (!c) return std::unexpected(c.error());
        name = std::move(*c);
    }
    auto d = parts::discounting(market, name);
    if (!d) return fail(d.error());
    auto t = d->curve->time_of(terms.expiry);
    if (!t) return fail(t.error());
    auto p = d->curve->discount_on(terms.expiry);
    if (!p) return fail(p.error());
    auto forward = (*surface)->forward(*t);
    if (!forward) return fail(forward.error());
    auto at = parts::surface_vol(market, terms.underlying, terms.strike, *t);
    if (!at) return fail(at.error());
    // As EuropeanOption: inputs that reproduce the surface's forward and the curve's discount.
    const double spot = (*surface)->curve().spot.value_or(*forward);
    const double rate = -quelm::log(*p) / *t;
    const double dividend = rate - quelm::log(*forward / spot) / *t;
    fd::FdContract contract = terms.contract;
    contract.expiry = *t;
    const auto solve = [&](double r, double vol) {
        const fd::FdModel model{.spot = spot, .rate = r, .vol = vol, .dividend_yield = r == rate ? dividend : r - (rate - dividend),
                                .dividends = {}};
        fd::FdSettings settings;
        settings.grid_vol = at->vol;
        return fd::fd_price(contract, model, settings);
    };
    auto base = solve(rate, at->vol);
    if (!base) return fail(base.error());
    const double n = terms.notional;
    MarketTradeValue v;
    v.value = n * base->price;
    if (!with_risk) return v;
    auto r_up = solve(rate + kRateStep, at->vol), r_down = solve(rate - kRateStep, at->vol);
    auto v_up = solve(rate, at->vol + kVolStep), v_down = solve(rate, at->vol - kVolStep);
    for (const auto* r : {&r_up, &r_down, &v_up, &v_down})
        if (!*r) return fail(r->error());
    // r = -ln P / t, so dV/dP = dV/dr · (-1 / (t P)), the forward held by the surface.
    const double dv_dr = (r_up->price - r_down->price) / (2.0 * kRateStep);
    auto leg = parts::leg_on(*d, name, terms.expiry, -n * dv_dr / (*t * *p));
    if (!leg) return fail(leg.error());
    v.legs.push_back(std::move(*leg));
    const double vega = (v_up->price - v_down->price) / (2.0 * kVolStep);
    v.greeks = TradeGreeks{n * base->delta, n * base->gamma, n * vega * parts::kVolPoint, n * base->theta};
    auto vegas = parts::slice_vegas(*at, terms.strike, *t, v.greeks->vega);
    if (!vegas) return fail(vegas.error());
    v.vega = std::move(*vegas);
    return v;
}

}  // namespace

Status check(const AmericanOption& o) { return check_terms("american option", o.underlying, o.strike, o.notional); }

Status check(const BarrierOption& o) {
    QUELM_CHECK(check_terms("barrier option", o.underlying, o.strike, o.notional));
    if (!(std::isfinite(o.barrier) && o.barrier > 0.0))
        return bad_argument("barrier option: barrier must be positive and finite, got " + format_number(o.barrier));
    if (!(std::isfinite(o.rebate) && o.rebate >= 0.0))
        return bad_argument("barrier option: rebate must be >= 0 and finite, got " + format_number(o.rebate));
    return {};
}

std::string describe(const AmericanOption& o) {
    return "<AmericanOption " + std::string(side(o.type)) + " on " + o.underlying + " " + format_number(o.strike) +
           " expiring " + dates::format_iso(o.expiry) + ">";
}

std::string describe(const BarrierOption& o) {
    return "<BarrierOption " + std::string(barrier_name(o.barrier_type)) + " " + std::string(side(o.type)) + " on " +
           o.underlying + " " + format_number(o.strike) + " barrier " + format_number(o.barrier) + " expiring " +
           dates::format_iso(o.expiry) + ">";
}

Result<MarketTradeValue> value_american(const AmericanOption& o, const Market& market, bool with_risk) {
    fd::FdContract c{.strike = o.strike, .expiry = 0.0, .type = o.type, .style = pricing::ExerciseStyle::American,
                     .barrier_type = std::nullopt, .barrier = std::nullopt, .rebate = 0.0};
    return value_fd({o.underlying, o.strike, o.expiry, o.notional, o.curve, c}, market, with_risk);
}

Result<MarketTradeValue> value_european_fd(const EuropeanOption& o, const Market& market, bool with_risk) {
    fd::FdContract c{.strike = o.strike, .expiry = 0.0, .type = o.type, .style = pricing::ExerciseStyle::European,
                     .barrier_type = std::nullopt, .barrier = std::nullopt, .rebate = 0.0};
    return value_fd({o.underlying, o.strike, o.expiry, o.notional, o.curve, c}, market, with_risk);
}

Result<MarketTradeValue> value_barrier(const BarrierOption& o, const Market& market, bool with_risk) {
    fd::FdContract c{.strike = o.strike, .expiry = 0.0, .type = o.type, .style = pricing::ExerciseStyle::European,
                     .barrier_type = o.barrier_type, .barrier = o.barrier, .rebate = o.rebate};
    return value_fd({o.underlying, o.strike, o.expiry, o.notional, o.curve, c}, market, with_risk);
}

}  // namespace quelm::book

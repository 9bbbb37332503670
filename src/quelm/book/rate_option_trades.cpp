#include "quelm/book/rate_option_trades.hpp"

#include <optional>

#include "quelm/book/rate_vols.hpp"
#include "quelm/book/trade_parts.hpp"
#include "quelm/curves/layout.hpp"
#include "quelm/rates/cube_slopes.hpp"
#include "quelm/rates/hw_pde.hpp"
#include "quelm/rates/option_risk.hpp"
#include "quelm/rates/rate_dates.hpp"

namespace quelm::book {

namespace {

using parts::named;

// The curves a rate option reads: its projection curve and discount curve (the one the
// projection curve was built on unless named), each with its index among the market's.
struct RateCurves {
    rates::CurveArgs on;
    std::string projection_name;
    const curves::YieldCurve* discount = nullptr;  // the one read
    std::optional<std::size_t> projection_index, discount_index;
};

std::optional<std::size_t> index_of(const Market& market, const curves::YieldCurve* curve) {
    const auto items = market.curves().items();
    for (std::size_t i = 0; i < items.size(); ++i)
        if (items[i].value.get() == curve) return i;
    return std::nullopt;
}

Result<RateCurves> rate_curves(const Market& market, const std::string& curve, const std::string& discount,
                               const std::string& what) {
    RateCurves out;
    QUELM_TRY(name, rate_option_curve(curve, market, what));
    QUELM_TRY(projection, market.curve(name));
    out.on.curve = projection.get();
    if (!discount.empty()) {
        QUELM_TRY(d, market.curve(discount));
        out.on.discount = d.get();
    }
    QUELM_TRY(pair, rates::pair_of(*out.on.curve, out.on.discount));
    out.discount = pair.discount;
    out.projection_name = std::move(name);
    out.projection_index = index_of(market, out.on.curve);
    out.discount_index = index_of(market, out.discount);
    return out;
}

struct Vol {
    std::string name;
    std::shared_ptr<const RateVols> vols;
};

Result<Vol> rate_vol_of(const Market& market, const std::string& vol) {
    std::string name = vol;
    if (name.empty()) {
        const auto names = market.rate_vols().names();
        if (names.size() != 1)
            return bad_argument("name its rate vol (vol=...); the market has " + join_names(names));
        name = std::string(names[0]);
    }
    QUELM_TRY(v, market.rate_vol(name));
    return Vol{std::move(name), std::move(v)};
}

// Amounts on discount factors as a leg on the market curve that holds those factors.
Result<CurveLeg> leg_of(std::span<const curves::Flow> flows, const std::optional<std::size_t>& index,
                        const std::string& what) {
    if (!index)
        return bad_argument(what + " discounts on a curve from outside the market: its quotes have no labels to be "
                                   "risked by");
    return CurveLeg{*index, std::make_shared<const curves::Layout>(curves::lay_out_linear(flows, {}))};
}

Status add_legs(MarketTradeValue& v, const rates::OptionRisk& r, const RateCurves& c) {
    // A strip with no live caplet reads no discount factor: no leg.
    if (!r.projection.empty()) {
        QUELM_TRY(p, leg_of(r.projection, c.projection_index, "curve " + c.projection_name));
        v.legs.push_back(std::move(p));
    }
    if (!r.discount.empty()) {
        QUELM_TRY(d, leg_of(r.discount, c.discount_index, "curve " + c.projection_name));
        v.legs.push_back(std::move(d));
    }
    return {};
}

// Vegas on a RateVol's columns: its one vol, or the term structure's times each optionlet reads.
void add_term_vegas(MarketTradeValue& v, const Vol& vol, const rates::RateVol& r, const rates::OptionRisk& risk) {
    const auto labels = rate_vol_labels(vol.name, *vol.vols);
    std::vector<double> amounts(labels.size(), 0.0);
    for (const rates::OptionletVega& g : risk.vegas)
        for (const rates::VolTermSlope& s : rates::vol_term_slopes(r.vol, g.t))
            amounts[s.index] += g.vega * s.slope * parts::kVolPoint;
    for (std::size_t j = 0; j < labels.size(); ++j)
        if (amounts[j] != 0.0) v.quotes.push_back({labels[j], amounts[j]});
}

rates::Quoting cube_quoting(const rates::SwaptionCube& c) {
    return {c.model, c.model == rates::VolModel::ShiftedBlack ? c.shift : 0.0};
}

}  // namespace

Result<std::string> rate_option_curve(const std::string& curve, const Market& market, const std::string& what) {
    if (!curve.empty()) return curve;
    return parts::only_curve(market, what);
}

Result<MarketTradeValue> value_swaption(const rates::Swaption& s, const Market& market, bool with_risk) {
    const std::string what = "swaption";
    const auto fail = [&](const Error& e) { return std::unexpected(named(what, e)); };
    auto c = rate_curves(market, s.curve, s.discount_curve, what);
    if (!c) return std::unexpected(c.error());
    auto vol = rate_vol_of(market, s.vol);
    if (!vol) return fail(vol.error());
    if (std::holds_alternative<rates::HullWhite>(vol->vols->vol))
        return fail(Error{Kind::Argument, "rate vol " + vol->name +
                                              " is a Hull-White model, which prices Bermudan swaptions: give "
                                              "swaptions a RateVol or a SwaptionCube"});
    // The vol is read at the option's time (and a cube's at its expiry and tenor in nominal
    // years, an expiry date at its vol time).
    auto terms = rates::swaption_terms(s, c->on);
    if (!terms) return std::unexpected(terms.error());
    double sigma = 0.0;
    rates::Quoting q;
    const rates::SwaptionCube* cube = std::get_if<rates::SwaptionCube>(&vol->vols->vol);
    double expiry_years = terms->t, tenor_years = rates::nominal_years(s.tenor);
    if (cube) {
        if (const auto* e = std::get_if<dates::Tenor>(&s.expiry)) expiry_years = rates::nominal_years(*e);
        auto at = rates::cube_vol(*cube, expiry_years, tenor_years, s.strike);
        if (!at) return fail(at.error());
        sigma = *at;
        q = cube_quoting(*cube);
    } else {
        const auto& r = std::get<rates::RateVol>(vol->vols->vol);
        sigma = r.vol.at(terms->t);
        q = r.quoting;
    }
    MarketTradeValue v;
    if (!with_risk) {
        auto p = rates::swaption_price(s, c->on, sigma, q);
        if (!p) return std::unexpected(p.error());
        v.value = *p;
        return v;
    }
    auto risk = rates::swaption_risk(s, c->on, sigma, q);
    if (!risk) return std::unexpected(risk.error());
    v.value = risk->value;
    if (auto ok = add_legs(v, *risk, *c); !ok) return fail(ok.error());
    if (!cube) {
        add_term_vegas(v, *vol, std::get<rates::RateVol>(vol->vols->vol), *risk);
        return v;
    }
    auto slopes = rates::cube_vol_slopes(*cube, expiry_years, tenor_years, s.strike, *vol->vols->refits);
    if (!slopes) return fail(slopes.error());
    const auto labels = rate_vol_labels(vol->name, *vol->vols);
    const double vega = risk->vegas.front().vega * parts::kVolPoint;
    for (const rates::CubeSlope& k : *slopes)
        v.quotes.push_back({labels[k.node * cube->strikes.size() + k.strike], vega * k.slope});
    return v;
}

Result<MarketTradeValue> value_cap_floor(const rates::CapFloor& cap, const Market& market, bool with_risk) {
    const std::string what = cap.kind == rates::CapKind::Cap ? "cap" : "floor";
    const auto fail = [&](const Error& e) { return std::unexpected(named(what, e)); };
    auto c = rate_curves(market, cap.curve, cap.discount_curve, what);
    if (!c) return std::unexpected(c.error());
    auto vol = rate_vol_of(market, cap.vol);
    if (!vol) return fail(vol.error());
    const auto* r = std::get_if<rates::RateVol>(&vol->vols->vol);
    if (!r)
        return fail(Error{Kind::Argument, "rate vol " + vol->name +
                                              (std::holds_alternative<rates::HullWhite>(vol->vols->vol)
                                                   ? " is a Hull-White model, which prices Bermudan swaptions"
                                                   : " is a swaption cube, which prices swaptions") +
                                              ": give caps a RateVol"});
    MarketTradeValue v;
    if (!with_risk) {
        auto p = rates::cap_price(cap, c->on, r->vol, r->quoting);
        if (!p) return std::unexpected(p.error());
        v.value = *p;
        return v;
    }
    auto risk = rates::cap_risk(cap, c->on, r->vol, r->quoting);
    if (!risk) return std::unexpected(risk.error());
    v.value = risk->value;
    if (auto ok = add_legs(v, *risk, *c); !ok) return fail(ok.error());
    add_term_vegas(v, *vol, *r, *risk);
    return v;
}

Result<MarketTradeValue> value_bermudan(const rates::BermudanSwaption& b, const Market& market, bool with_risk) {
    const std::string what = "Bermudan swaption";
    const auto fail = [&](const Error& e) { return std::unexpected(named(what, e)); };
    auto name = rate_option_curve(b.curve, market, what);
    if (!name) return std::unexpected(name.error());
    auto curve = market.curve(*name);
    if (!curve) return fail(curve.error());
    auto vol = rate_vol_of(market, b.vol);
    if (!vol) return fail(vol.error());
    const auto* hw = std::get_if<rates::HullWhite>(&vol->vols->vol);
    if (!hw)
        return fail(Error{Kind::Argument, "rate vol " + vol->name +
                                              " is not a Hull-White model: give Bermudan swaptions a HullWhite"});
    const rates::HullWhite model{hw->a, hw->sigma, **curve};
    Cancel cancel;
    auto priced = rates::hw_bermudan_pde_value(model, b, kBermudanSteps, with_risk, cancel);
    if (!priced) return fail(priced.error());
    MarketTradeValue v;
    v.value = priced->value;
    if (!with_risk) return v;
    auto leg = leg_of(priced->slopes, index_of(market, curve->get()), "curve " + *name);
    if (!leg) return fail(leg.error());
    if (!priced->slopes.empty()) v.legs.push_back(std::move(*leg));
    // Sigma moved by a small fraction of itself each way: the grid scales with sigma, smoothly.
    const double h = 1e-4 * hw->sigma;
    double sides[2] = {0.0, 0.0};
    for (int k = 0; k < 2; ++k) {
        const rates::HullWhite moved{hw->a, hw->sigma + (k == 0 ? h : -h), **curve};
        auto p = rates::hw_bermudan_pde(moved, b, kBermudanSteps, cancel);
        if (!p) return fail(p.error());
        sides[k] = *p;
    }
    v.quotes.push_back({rate_vol_labels(vol->name, *vol->vols).front(), (sides[0] - sides[1]) / (2.0 * h) * 1e-4});
    return v;
}

}  // namespace quelm::book

#include "quelm/book/trade_parts.hpp"

#include <cmath>

#include "quelm/core/text.hpp"
#include "quelm/curves/pricing.hpp"

namespace quelm::book::parts {

Result<Discounting> discounting(const Market& market, const std::string& name) {
    QUELM_TRY(c, market.curve(name));
    Discounting d;
    d.curve = curves::pricing_curves(*c, nullptr).discount;
    const auto items = market.curves().items();
    for (std::size_t i = 0; i < items.size(); ++i)
        if (items[i].value.get() == d.curve) d.index = i;
    return d;
}

Result<CurveLeg> leg_on(const Discounting& d, const std::string& name, dates::Serial date, double amount) {
    if (!d.index)
        return bad_argument("curve " + name +
                            " discounts on a curve from outside the market: its quotes have no labels to be risked by");
    const curves::Flow flow{date, amount};
    return CurveLeg{*d.index, std::make_shared<const curves::Layout>(curves::lay_out_flows({&flow, 1}))};
}

Result<PairCurves> pair_curves(const Market& market, const std::string& pair, const std::string& domestic,
                               const std::string& foreign) {
    PairCurves c{domestic, foreign};
    if (c.domestic.empty()) {
        QUELM_TRY(name, currency_curve(market, std::string_view(pair).substr(3), "domestic_curve"));
        c.domestic = std::move(name);
    }
    if (c.foreign.empty()) {
        QUELM_TRY(name, currency_curve(market, std::string_view(pair).substr(0, 3), "foreign_curve"));
        c.foreign = std::move(name);
    }
    return c;
}

Result<PairAt> pair_at(const Market& market, const std::string& pair, const std::string& domestic,
                       const std::string& foreign, dates::Serial date) {
    PairAt at;
    QUELM_TRY(names, pair_curves(market, pair, domestic, foreign));
    at.names = std::move(names);
    QUELM_TRY(d, discounting(market, at.names.domestic));
    QUELM_TRY(g, discounting(market, at.names.foreign));
    QUELM_TRY(spot, market.fx(pair));
    QUELM_TRY(pd, d.curve->discount_on(date));
    QUELM_TRY(pf, g.curve->discount_on(date));
    at.domestic = d;
    at.foreign = g;
    at.spot = spot;
    at.pd = pd;
    at.pf = pf;
    return at;
}

std::vector<FxDelta> fx_deltas(const Market& market, const std::string& pair, double delta) {
    std::vector<FxDelta> out;
    const std::string inverse = pair.substr(3) + pair.substr(0, 3);
    const auto spots = market.fx_spots().spots();
    for (std::size_t i = 0; i < spots.size(); ++i) {
        if (spots[i].pair == pair) out.push_back({i, delta});
        else if (spots[i].pair == inverse) out.push_back({i, -delta / (spots[i].spot * spots[i].spot)});
    }
    return out;
}

Result<std::string> only_curve(const Market& market, const std::string& what) {
    const auto names = market.curves().names();
    if (names.size() == 1) return std::string(names[0]);
    return bad_argument(what + ": name its curve (curve=...); the market has " + join_names(names));
}

Result<SurfaceVol> surface_vol(const Market& market, const std::string& name, double strike, double t) {
    QUELM_TRY(s, market.surface(name));
    SurfaceVol at;
    at.surface = s.get();
    const auto items = market.surfaces().items();
    while (items[at.index].value.get() != at.surface) ++at.index;
    QUELM_TRY(vol, s->vol(strike, t));
    if (!std::isfinite(vol))
        return invalid("the surface has no volatility at strike " + format_number(strike) + " and t = " +
                       format_number(t));
    at.vol = vol;
    return at;
}

Result<std::vector<SliceVega>> slice_vegas(const SurfaceVol& at, double strike, double t, double total) {
    const volatility::VolSurface& s = *at.surface;
    const auto slices = s.slices();
    const std::size_t last = slices.size() - 1;
    if (t <= slices.front().t) return std::vector<SliceVega>{{at.index, 0, total}};
    if (t >= slices[last].t) return std::vector<SliceVega>{{at.index, last, total}};
    std::size_t i = 0;
    while (slices[i + 1].t <= t) ++i;
    const double x = (t - slices[i].t) / (slices[i + 1].t - slices[i].t);
    QUELM_TRY(forward, s.forward(t));
    const double moneyness = strike / forward;
    std::vector<SliceVega> out;
    for (const auto& [j, weight] : {std::pair{i, 1.0 - x}, std::pair{i + 1, x}}) {
        QUELM_TRY(fj, s.forward(slices[j].t));
        QUELM_TRY(vj, s.vol(fj * moneyness, slices[j].t));
        out.push_back({at.index, j, total * weight * vj * slices[j].t / (at.vol * t)});
    }
    return out;
}

}  // namespace quelm::book::parts

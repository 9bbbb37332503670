#include "quelm/fx/vanna_volga_barrier.hpp"

#include <cmath>
#include <vector>

#include "quelm/core/math/lu.hpp"
#include "quelm/pricing/barrier_rebate.hpp"

namespace quelm::fx {

namespace {

pricing::BarrierType out_of(pricing::BarrierType t) {
    return pricing::is_down(t) ? pricing::BarrierType::DownOut : pricing::BarrierType::UpOut;
}
bool breached(const FxMarket& m, const FxBarrier& b) { return pricing::is_down(b.type) ? m.spot <= b.level : m.spot >= b.level; }

MarketInputs inputs_of(const FxMarket& m) {
    return {.spot = m.spot, .rate = m.domestic_rate, .vol = m.vol, .dividend_yield = m.foreign_rate};
}

// A knock-out with its rebate at the touch, the barrier unbreached.
Result<double> knock_out(const FxMarket& m, const FxBarrier& b) {
    const OptionContract o{.strike = b.strike, .expiry = m.t, .option_type = b.option_type};
    QUELM_TRY(p, pricing::barrier_price(o, inputs_of(m), {out_of(b.type), b.level}));
    if (b.rebate == 0.0) return p;
    QUELM_TRY(r, pricing::rebate_at_touch(inputs_of(m), m.t, pricing::is_down(b.type), b.level));
    return p + b.rebate * r;
}

Status validate(const FxMarket& m, const FxBarrier& b) {
    if (!(b.strike > 0.0 && b.level > 0.0)) return invalid("strike and barrier must be > 0");
    if (!(m.vol > 0.0 && m.t > 0.0)) return invalid("volatility and expiry must be > 0");
    if (!(b.rebate >= 0.0)) return invalid("rebate must be >= 0");
    return {};
}

}  // namespace

Result<double> flat_barrier_price(const FxMarket& m, const FxBarrier& b) {
    QUELM_CHECK(validate(m, b));
    if (!pricing::is_in(b.type)) return breached(m, b) ? b.rebate : knock_out(m, b);
    const OptionContract o{.strike = b.strike, .expiry = m.t, .option_type = b.option_type};
    QUELM_TRY(p, pricing::barrier_price(o, inputs_of(m), {b.type, b.level}));
    if (breached(m, b) || b.rebate == 0.0) return p;
    return p + b.rebate * pricing::rebate_at_expiry(inputs_of(m), m.t, pricing::is_down(b.type), b.level);
}

namespace {

// The knock-out (b of an out type, unbreached) on the smile.
Result<double> vanna_volga_knock_out(const FxSmile& smile, const FxBarrier& b) {
    const FxMarket m0 = smile.market(smile.quotes().atm_vol);
    // Its vega, vanna and volga at the ATM vol, by central differences of its closed form.
    const double hv = 1e-4, hs = 1e-4 * m0.spot;
    const auto at = [&](double ds, double dv) {
        FxMarket m = m0;
        m.spot += ds;
        m.vol += dv;
        return knock_out(m, b);
    };
    QUELM_TRY(p0, at(0.0, 0.0));
    QUELM_TRY(pu, at(0.0, hv));
    QUELM_TRY(pd, at(0.0, -hv));
    QUELM_TRY(puu, at(hs, hv));
    QUELM_TRY(pud, at(hs, -hv));
    QUELM_TRY(pdu, at(-hs, hv));
    QUELM_TRY(pdd, at(-hs, -hv));
    std::vector<double> x = {(pu - pd) / (2.0 * hv), ((puu - pud) - (pdu - pdd)) / (4.0 * hs * hv),
                             ((pu - p0) - (p0 - pd)) / (hv * hv)};

    // Three calls at the central pillars matched to them; their cost on the smile.
    const auto k = smile.strikes();
    const auto vols = smile.vols();
    const std::size_t mid = k.size() / 2;
    std::vector<double> a(9);
    double cost[3];
    for (std::size_t j = 0; j < 3; ++j) {
        const std::size_t i = mid - 1 + j;
        QUELM_TRY(g, fx_greeks(m0, k[i], OptionType::Call));
        QUELM_TRY(on_smile, garman_kohlhagen(smile.market(vols[i]), k[i], OptionType::Call));
        a[0 * 3 + j] = g.vega;
        a[1 * 3 + j] = g.vanna;
        a[2 * 3 + j] = g.volga;
        cost[j] = on_smile - g.price;
    }
    QUELM_TRY(lu, LuFactors::factor(std::move(a), 3));
    lu.solve(x);
    const double correction = (x[0] * cost[0] + x[1] * cost[1]) + x[2] * cost[2];
    const double survival = pricing::no_touch_probability(inputs_of(m0), m0.t, pricing::is_down(b.type), b.level);
    return p0 + survival * correction;
}

}  // namespace

Result<double> vanna_volga_barrier_price(const FxSmile& smile, const FxBarrier& b) {
    const FxMarket m0 = smile.market(smile.quotes().atm_vol);
    QUELM_CHECK(validate(m0, b));
    if (!pricing::is_in(b.type)) return breached(m0, b) ? b.rebate : vanna_volga_knock_out(smile, b);
    QUELM_TRY(v, smile.vol(b.strike));
    QUELM_TRY(vanilla, garman_kohlhagen(smile.market(v), b.strike, b.option_type));
    if (breached(m0, b)) return vanilla;
    const FxBarrier out{b.strike, b.level, out_of(b.type), b.option_type, 0.0};
    QUELM_TRY(knocked_out, vanna_volga_knock_out(smile, out));
    const double rebate =
        b.rebate == 0.0 ? 0.0 : b.rebate * pricing::rebate_at_expiry(inputs_of(m0), m0.t, pricing::is_down(b.type), b.level);
    return (vanilla - knocked_out) + rebate;
}

}  // namespace quelm::fx

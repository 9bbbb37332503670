#include "quelm/book/fx_smile_vol.hpp"

#include <cmath>

#include "quelm/core/math/elementary.hpp"
#include "quelm/core/text.hpp"
#include "quelm/fx/surface.hpp"

namespace quelm::book {

namespace {

// The date whose time on the curve is t; time_of rises with the date.
Result<dates::Serial> expiry_of(const curves::YieldCurve& curve, const std::string& curve_name,
                                dates::Serial reference, double t) {
    dates::Serial lo = reference, hi = reference + static_cast<dates::Serial>(std::ceil(t * 400.0)) + 8;
    while (hi - lo > 1) {
        const dates::Serial mid = lo + (hi - lo) / 2;
        QUELM_TRY(at, curve.time_of(mid));
        if (at >= t) hi = mid;
        else lo = mid;
    }
    for (const dates::Serial d : {hi, lo}) {
        if (d <= reference) continue;
        QUELM_TRY(at, curve.time_of(d));
        if (std::fabs(at - t) <= 1e-12 * t) return d;
    }
    return bad_argument("the smile at t=" + format_number(t) + " is at no date on curve " + curve_name +
                        "'s day count from the market's date: build it with FxSmile.from_quotes_at");
}

// The vol at (strike, t): one smile's own at its expiry, else the total-variance surface
// through the smiles (a single smile held flat in moneyness).
Result<double> vol_on(const std::vector<fx::FxSmile>& smiles, bool surface, double strike, double t) {
    if (!surface && t == smiles.front().quotes().t) return smiles.front().vol(strike);
    QUELM_TRY(s, fx::FxVolSurface::from_smiles(smiles));
    return s.vol(strike, t);
}

// The slope of f at 0 from central differences at h and h / 2, Richardson-extrapolated.
template <class F>
Result<double> slope(F&& f, double h) {
    QUELM_TRY(a, f(h));
    QUELM_TRY(b, f(-h));
    QUELM_TRY(c, f(h / 2.0));
    QUELM_TRY(d, f(-h / 2.0));
    const double wide = (a - b) / (2.0 * h), narrow = (c - d) / h;
    return (4.0 * narrow - wide) / 3.0;
}

constexpr double kStep = 2e-4;

}  // namespace

Result<SmileVol> smile_vol(const Market& market, const parts::PairAt& at, const FxVols& vols, double strike,
                           double t) {
    SmileVol out;
    for (const fx::FxSmile& s : vols.smiles) {
        fx::SmileQuotes q = s.quotes();
        QUELM_TRY(expiry, expiry_of(*at.domestic.curve, at.names.domestic, market.reference_date(), q.t));
        QUELM_TRY(pd, at.domestic.curve->discount_on(expiry));
        QUELM_TRY(pf, at.foreign.curve->discount_on(expiry));
        q.spot = at.spot;
        q.domestic_rate = -quelm::log(pd) / q.t;
        q.foreign_rate = -quelm::log(pf) / q.t;
        QUELM_TRY(built, fx::FxSmile::from_quotes(std::move(q)));
        out.smiles.push_back(std::move(built));
        out.expiries.push_back(expiry);
        out.pd.push_back(pd);
        out.pf.push_back(pf);
    }
    QUELM_TRY(v, vol_on(out.smiles, vols.surface, strike, t));
    out.vol = v;
    return out;
}

Result<SmileSlopes> smile_slopes(const SmileVol& base, const FxVols& vols, double strike, double t) {
    const std::size_t n = base.smiles.size();
    SmileSlopes out;
    // The vol with smile i's quotes changed by `edit` (every smile's when i == n).
    const auto bumped = [&](std::size_t i, auto edit) -> Result<double> {
        std::vector<fx::FxSmile> smiles = base.smiles;
        for (std::size_t k = 0; k < n; ++k) {
            if (i != n && k != i) continue;
            fx::SmileQuotes q = smiles[k].quotes();
            edit(q);
            QUELM_TRY(s, fx::FxSmile::from_quotes(std::move(q)));
            smiles[k] = std::move(s);
        }
        return vol_on(smiles, vols.surface, strike, t);
    };
    const double spot = base.smiles.front().quotes().spot;
    QUELM_TRY(ds, slope([&](double h) { return bumped(n, [&](fx::SmileQuotes& q) { q.spot = spot + h; }); },
                        kStep * spot));
    out.spot = ds;
    for (std::size_t i = 0; i < n; ++i) {
        const double rd = base.smiles[i].quotes().domestic_rate, rf = base.smiles[i].quotes().foreign_rate;
        QUELM_TRY(a, slope([&](double h) { return bumped(i, [&](fx::SmileQuotes& q) { q.domestic_rate = rd + h; }); },
                           kStep));
        QUELM_TRY(b, slope([&](double h) { return bumped(i, [&](fx::SmileQuotes& q) { q.foreign_rate = rf + h; }); },
                           kStep));
        out.rd.push_back(a);
        out.rf.push_back(b);
    }
    for (const FxQuoteColumn& c : fx_quote_columns("", vols)) {
        const fx::SmileQuotes& q0 = base.smiles[c.smile].quotes();
        const double x = c.which == 0 ? q0.atm_vol : c.which == 1 ? q0.rr[c.delta] : q0.bf[c.delta];
        const auto edit = [&](double h) {
            return bumped(c.smile, [&](fx::SmileQuotes& q) {
                double& field = c.which == 0 ? q.atm_vol : c.which == 1 ? q.rr[c.delta] : q.bf[c.delta];
                field = x + h;
            });
        };
        QUELM_TRY(d, slope(edit, kStep));
        out.quotes.push_back(d);
    }
    return out;
}

}  // namespace quelm::book

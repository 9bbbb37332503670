#include "quelm/book/fx_smile_vol.hpp"

#include <cmath>
#include <mutex>

#include "quelm/core/math/elementary.hpp"
#include "quelm/core/text.hpp"

namespace quelm::book {

// The last inputs' rebuild; a lookup that misses builds outside the lock, so pricing on many
// markets at once (scenarios) only costs rebuilds.
struct FxSmileCache {
    std::mutex lock;
    std::vector<double> key;
    std::shared_ptr<const RebuiltSmiles> value;
};

std::shared_ptr<FxSmileCache> new_fx_smile_cache() { return std::make_shared<FxSmileCache>(); }

namespace {

constexpr double kStep = 2e-4;
constexpr double kFractions[4] = {1.0, -1.0, 0.5, -0.5};

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

Result<SmileSet> set_of(std::vector<fx::FxSmile> smiles) {
    SmileSet s;
    QUELM_TRY(surface, fx::FxVolSurface::from_smiles(smiles));
    s.surface = std::move(surface);
    s.smiles = std::move(smiles);
    return s;
}

// The base smiles with smile i's quotes (every smile's when i == n) edited.
template <class Edit>
Result<SmileSet> edited(const std::vector<fx::FxSmile>& base, std::size_t i, Edit edit) {
    std::vector<fx::FxSmile> smiles = base;
    for (std::size_t k = 0; k < smiles.size(); ++k) {
        if (i != smiles.size() && k != i) continue;
        fx::SmileQuotes q = smiles[k].quotes();
        edit(q);
        QUELM_TRY(s, fx::FxSmile::from_quotes(std::move(q)));
        smiles[k] = std::move(s);
    }
    return set_of(std::move(smiles));
}

Status add_bumps(RebuiltSmiles& r, const FxVols& vols) {
    const auto& base = r.base.smiles;
    const std::size_t n = base.size();
    const auto input = [&](std::size_t smile, double h, auto field) -> Status {
        r.steps.push_back(h);
        for (const double f : kFractions) {
            QUELM_TRY(set, edited(base, smile, [&](fx::SmileQuotes& q) { field(q) += f * h; }));
            r.bumped.push_back(std::move(set));
        }
        return {};
    };
    QUELM_CHECK(input(n, kStep * base.front().quotes().spot, [](fx::SmileQuotes& q) -> double& { return q.spot; }));
    for (std::size_t i = 0; i < n; ++i) {
        QUELM_CHECK(input(i, kStep, [](fx::SmileQuotes& q) -> double& { return q.domestic_rate; }));
        QUELM_CHECK(input(i, kStep, [](fx::SmileQuotes& q) -> double& { return q.foreign_rate; }));
    }
    for (const FxQuoteColumn& c : fx_quote_columns("", vols)) {
        QUELM_CHECK(input(c.smile, kStep, [&](fx::SmileQuotes& q) -> double& {
            return c.which == 0 ? q.atm_vol : c.which == 1 ? q.rr[c.delta] : q.bf[c.delta];
        }));
    }
    return {};
}

}  // namespace

Result<std::shared_ptr<const RebuiltSmiles>> rebuilt_smiles(const Market& market, const parts::PairAt& at,
                                                          const FxVols& vols, bool with_bumps) {
    std::vector<fx::SmileQuotes> quotes;
    std::vector<dates::Serial> expiries;
    std::vector<double> pds, pfs, key{at.spot};
    for (const fx::FxSmile& s : vols.smiles) {
        fx::SmileQuotes q = s.quotes();
        QUELM_TRY(expiry, expiry_of(*at.domestic.curve, at.names.domestic, market.reference_date(), q.t));
        QUELM_TRY(pd, at.domestic.curve->discount_on(expiry));
        QUELM_TRY(pf, at.foreign.curve->discount_on(expiry));
        q.spot = at.spot;
        q.domestic_rate = -quelm::log(pd) / q.t;
        q.foreign_rate = -quelm::log(pf) / q.t;
        key.push_back(q.domestic_rate);
        key.push_back(q.foreign_rate);
        quotes.push_back(std::move(q));
        expiries.push_back(expiry);
        pds.push_back(pd);
        pfs.push_back(pf);
    }
    FxSmileCache& cache = *vols.cache;
    {
        const std::lock_guard<std::mutex> hold(cache.lock);
        if (cache.value && cache.key == key && (!with_bumps || !cache.value->bumped.empty())) return cache.value;
    }
    auto r = std::make_shared<RebuiltSmiles>();
    std::vector<fx::FxSmile> smiles;
    for (auto& q : quotes) {
        QUELM_TRY(built, fx::FxSmile::from_quotes(std::move(q)));
        smiles.push_back(std::move(built));
    }
    QUELM_TRY(set, set_of(std::move(smiles)));
    r->base = std::move(set);
    r->expiries = std::move(expiries);
    r->pd = std::move(pds);
    r->pf = std::move(pfs);
    if (with_bumps) QUELM_CHECK(add_bumps(*r, vols));
    const std::lock_guard<std::mutex> hold(cache.lock);
    cache.key = std::move(key);
    cache.value = r;
    return std::shared_ptr<const RebuiltSmiles>(std::move(r));
}

Result<double> smile_set_vol(const SmileSet& set, bool surface, double strike, double t) {
    if (!surface && t == set.smiles.front().quotes().t) return set.smiles.front().vol(strike);
    return set.surface->vol(strike, t);
}

Result<SmileSlopes> smile_slopes(const RebuiltSmiles& r, const FxVols& vols, double strike, double t) {
    const std::size_t n = r.base.smiles.size();
    // Central differences at h and h / 2, Richardson-extrapolated: O(h^4).
    std::vector<double> slopes;
    slopes.reserve(r.steps.size());
    for (std::size_t k = 0; k < r.steps.size(); ++k) {
        double v[4];
        for (std::size_t j = 0; j < 4; ++j) {
            QUELM_TRY(x, smile_set_vol(r.bumped[4 * k + j], vols.surface, strike, t));
            v[j] = x;
        }
        const double h = r.steps[k];
        const double wide = (v[0] - v[1]) / (2.0 * h), narrow = (v[2] - v[3]) / h;
        slopes.push_back((4.0 * narrow - wide) / 3.0);
    }
    SmileSlopes out;
    out.spot = slopes[0];
    for (std::size_t i = 0; i < n; ++i) {
        out.rd.push_back(slopes[1 + 2 * i]);
        out.rf.push_back(slopes[2 + 2 * i]);
    }
    out.quotes.assign(slopes.begin() + static_cast<std::ptrdiff_t>(1 + 2 * n), slopes.end());
    return out;
}

}  // namespace quelm::book

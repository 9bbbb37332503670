#include "quelm/fx/surface.hpp"

#include <algorithm>
#include <cmath>

#include "quelm/core/math/elementary.hpp"
#include "quelm/core/text.hpp"

namespace quelm::fx {

Result<FxVolSurface> FxVolSurface::from_smiles(std::vector<FxSmile> smiles) {
    if (smiles.empty()) return invalid("an FxVolSurface needs at least one smile");
    std::stable_sort(smiles.begin(), smiles.end(),
                     [](const FxSmile& a, const FxSmile& b) { return a.quotes().t < b.quotes().t; });
    for (std::size_t i = 1; i < smiles.size(); ++i) {
        if (smiles[i].quotes().t == smiles[i - 1].quotes().t)
            return invalid("two smiles share the expiry " + format_number(smiles[i].quotes().t));
        if (smiles[i].quotes().spot != smiles[0].quotes().spot) return invalid("the smiles must share one spot");
    }
    FxVolSurface s;
    s.smiles_ = std::move(smiles);
    return s;
}

double FxVolSurface::forward_at(double t) const {
    const auto& v = smiles_;
    const double t0 = v.front().quotes().t, tn = v.back().quotes().t;
    // Flat rates outside: ln F / S linear in t through the nearest smile's forward.
    if (t <= t0) return v.front().quotes().spot * quelm::exp(quelm::log(v.front().forward() / v.front().quotes().spot) * (t / t0));
    if (t >= tn) return v.back().quotes().spot * quelm::exp(quelm::log(v.back().forward() / v.back().quotes().spot) * (t / tn));
    std::size_t i = 0;
    while (v[i + 1].quotes().t < t) ++i;
    const double ta = v[i].quotes().t, tb = v[i + 1].quotes().t;
    const double w = (t - ta) / (tb - ta);
    const double la = quelm::log(v[i].forward()), lb = quelm::log(v[i + 1].forward());
    return quelm::exp(la + w * (lb - la));
}

Result<double> FxVolSurface::forward(double t) const {
    if (std::isnan(t)) return t;
    if (!(t >= 0.0)) return invalid("t must be >= 0");
    return forward_at(t);
}

Result<double> FxVolSurface::vol(double strike, double t) const {
    if (std::isnan(strike) || std::isnan(t)) return std::nan("");
    if (!(strike > 0.0)) return invalid("strike must be > 0");
    if (!(t > 0.0)) return invalid("t must be > 0");
    const double m = quelm::log(strike / forward_at(t));
    const auto& v = smiles_;
    const auto at = [&](const FxSmile& s) { return s.vol(s.forward() * quelm::exp(m)); };
    if (t <= v.front().quotes().t) return at(v.front());
    if (t >= v.back().quotes().t) return at(v.back());
    std::size_t i = 0;
    while (v[i + 1].quotes().t < t) ++i;
    QUELM_TRY(sa, at(v[i]));
    QUELM_TRY(sb, at(v[i + 1]));
    const double ta = v[i].quotes().t, tb = v[i + 1].quotes().t;
    const double wa = sa * sa * ta, wb = sb * sb * tb;
    const double w = wa + (t - ta) / (tb - ta) * (wb - wa);
    if (!(w > 0.0)) return numerical("the total variance is not positive at t " + format_number(t));
    return std::sqrt(w / t);
}

}  // namespace quelm::fx

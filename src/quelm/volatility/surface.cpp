#include "quelm/volatility/surface.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <utility>

#include "quelm/core/math/elementary.hpp"
#include "quelm/core/text.hpp"

namespace quelm::volatility {

namespace {

bool same_svi(const SviParams& a, const SviParams& b) {
    return a.a == b.a && a.b == b.b && a.rho == b.rho && a.m == b.m && a.sigma == b.sigma;
}

}  // namespace

bool operator==(const VolSurface& x, const VolSurface& y) {
    if (x.slices_.size() != y.slices_.size() || x.curve_.spot != y.curve_.spot || x.curve_.rate != y.curve_.rate ||
        x.curve_.dividend_yield != y.curve_.dividend_yield)
        return false;
    for (std::size_t i = 0; i < x.slices_.size(); ++i) {
        const auto &a = x.slices_[i], &b = y.slices_[i];
        if (a.t != b.t || a.forward != b.forward || !same_svi(a.svi, b.svi)) return false;
    }
    return true;
}

std::vector<double> VolSurface::slice_row(const SurfaceSlice& s) {
    return {s.t, s.forward, s.svi.a, s.svi.b, s.svi.rho, s.svi.m, s.svi.sigma, s.rmse, s.max_error, s.min_g,
            s.butterfly_free ? 1.0 : 0.0, s.calendar_repaired ? 1.0 : 0.0, static_cast<double>(s.quotes)};
}

Result<VolSurface> VolSurface::from_vols(std::span<const double> strikes, std::span<const double> expiries,
                                         std::span<const double> vols, const ForwardCurve& curve,
                                         std::span<const double> forwards, Cancel& cancel) {
    return fit(strikes, expiries, vols, curve, forwards, {}, cancel);
}

Result<VolSurface> VolSurface::fit(std::span<const double> strikes, std::span<const double> expiries,
                                   std::span<const double> vols, const ForwardCurve& curve,
                                   std::span<const double> forwards, std::span<const double> weights,
                                   Cancel& cancel) {
    const std::size_t n = strikes.size();
    if (expiries.size() != n || vols.size() != n) return bad_argument("strikes, expiries and vols must have equal length");
    if (!forwards.empty() && forwards.size() != n) return bad_argument("forwards must have one entry per quote");
    if (forwards.empty() && !curve.spot) return invalid("spot or forwards must be given");
    if (curve.spot && !(*curve.spot > 0.0 && std::isfinite(*curve.spot))) return invalid("spot must be finite and > 0");
    if (!std::isfinite(curve.rate)) return invalid("rate must be finite");
    if (!std::isfinite(curve.dividend_yield)) return invalid("dividend_yield must be finite");
    for (std::size_t i = 0; i < n; ++i) {
        if (!(strikes[i] > 0.0) || !std::isfinite(strikes[i])) return invalid("strikes must be finite and > 0");
        if (!(expiries[i] > 0.0) || !std::isfinite(expiries[i])) return invalid("expiries must be finite and > 0");
        if (!forwards.empty() && !(forwards[i] > 0.0 && std::isfinite(forwards[i])))
            return invalid("forwards must be finite and > 0");
    }
    std::vector<std::size_t> order(n);
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return expiries[a] < expiries[b]; });
    VolSurface s;
    s.curve_ = forwards.empty() ? curve : ForwardCurve{std::nullopt, 0.0, 0.0};
    std::vector<double> ks, vs, ws;
    for (std::size_t start = 0; start < n;) {
        std::size_t end = start;
        const double t = expiries[order[start]];
        while (end < n && expiries[order[end]] == t) ++end;
        const double f = forwards.empty() ? *curve.spot * quelm::exp((curve.rate - curve.dividend_yield) * t)
                                          : forwards[order[start]];
        ks.clear();
        vs.clear();
        ws.clear();
        double weight = 0.0;
        for (std::size_t j = start; j < end; ++j) {
            if (!forwards.empty() && forwards[order[j]] != f) return invalid("forwards must agree within an expiry");
            ks.push_back(quelm::log(strikes[order[j]] / f));
            vs.push_back(vols[order[j]]);
            if (!weights.empty()) {
                ws.push_back(weights[order[j]]);
                weight += weights[order[j]];
            }
        }
        // A slice whose weights are all zero has nothing to fit to.
        if (!weights.empty() && !(weight > 0.0))
            return invalid("weights must not all be zero within an expiry (t=" + format_number(t) + ")");
        QUELM_TRY(svi, svi_fit(ks, vs, t, ws, cancel));
        s.slices_.push_back({t, f, svi.params, svi.rmse, svi.max_error, svi.butterfly.min_g,
                             svi.butterfly.arbitrage_free, false, end - start});
        start = end;
    }
    s.mark_calendar();
    return s;
}

Result<VolSurface> VolSurface::from_rows(std::span<const std::span<const double>> rows, const ForwardCurve& curve,
                                         std::vector<DroppedQuote> dropped) {
    VolSurface s;
    s.curve_ = curve;
    s.dropped_ = std::move(dropped);
    for (const auto& r : rows) {
        if (r.size() != 13) return invalid("a slice row must hold 13 values");
        SurfaceSlice sl{r[0], r[1], {r[2], r[3], r[4], r[5], r[6]}, r[7], r[8], r[9], r[10] != 0.0, r[11] != 0.0,
                        static_cast<std::size_t>(r[12])};
        QUELM_CHECK(validate_svi(sl.svi));
        if (!s.slices_.empty() && !(sl.t > s.slices_.back().t)) return invalid("slice times must increase");
        s.slices_.push_back(sl);
    }
    if (s.slices_.empty()) return invalid("a surface needs at least one slice");
    return s;
}

// Marks the slices that the envelope lifts somewhere over the quoted log-moneyness range.
void VolSurface::mark_calendar() {
    for (std::size_t i = 1; i < slices_.size(); ++i) {
        bool lifted_here = false;
        for (int j = 0; j <= 200 && !lifted_here; ++j) {
            const double k = -2.0 + 4.0 * static_cast<double>(j) / 200.0;
            lifted_here = svi_value(slices_[i].svi, k).w < lifted(i - 1, k).w;
        }
        slices_[i].calendar_repaired = lifted_here;
    }
}

SviValue VolSurface::lifted(std::size_t i, double k) const {
    SviValue best = svi_value(slices_[0].svi, k);
    for (std::size_t j = 1; j <= i; ++j) {
        const SviValue v = svi_value(slices_[j].svi, k);
        if (v.w >= best.w) best = v;
    }
    return best;
}

double VolSurface::forward_at(double t) const {
    if (curve_.spot) return *curve_.spot * quelm::exp((curve_.rate - curve_.dividend_yield) * t);
    const auto& s = slices_;
    if (t <= s.front().t) return s.front().forward;
    if (t >= s.back().t) return s.back().forward;
    std::size_t i = 0;
    while (s[i + 1].t < t) ++i;
    if (t == s[i + 1].t) return s[i + 1].forward;  // a quoted expiry's own forward, not exp(log) of it
    const double x = (t - s[i].t) / (s[i + 1].t - s[i].t);
    return quelm::exp(quelm::log(s[i].forward) + x * (quelm::log(s[i + 1].forward) - quelm::log(s[i].forward)));
}

VolSurface::Local VolSurface::total_variance(double k, double t) const {
    const auto& s = slices_;
    if (t <= s.front().t) {
        const SviValue v = svi_value(s.front().svi, k);
        const double x = t / s.front().t;
        return {v.w * x, v.dw * x, v.d2w * x, v.w / s.front().t};
    }
    const std::size_t last = s.size() - 1;
    if (t >= s[last].t) {
        const SviValue v = lifted(last, k);
        const double x = t / s[last].t;
        return {v.w * x, v.dw * x, v.d2w * x, v.w / s[last].t};
    }
    std::size_t i = 0;
    while (s[i + 1].t <= t) ++i;
    const SviValue v0 = lifted(i, k), v1 = lifted(i + 1, k);
    const double x = (t - s[i].t) / (s[i + 1].t - s[i].t);
    return {v0.w + x * (v1.w - v0.w), v0.dw + x * (v1.dw - v0.dw), v0.d2w + x * (v1.d2w - v0.d2w),
            (v1.w - v0.w) / (s[i + 1].t - s[i].t)};
}

Result<double> VolSurface::forward(double t) const {
    if (std::isnan(t)) return kNaN;
    if (t < 0.0) return invalid("t must be >= 0");
    return forward_at(t);
}

Result<double> VolSurface::vol(double strike, double t) const {
    if (!(strike > 0.0) && !std::isnan(strike)) return invalid("strike must be > 0");
    if (!(t > 0.0) && !std::isnan(t)) return invalid("t must be > 0");
    if (any_nan(strike, t)) return kNaN;
    const Local v = total_variance(quelm::log(strike / forward_at(t)), t);
    return v.w > 0.0 ? std::sqrt(v.w / t) : kNaN;
}

Result<double> VolSurface::local_vol(double strike, double t) const {
    if (!(strike > 0.0) && !std::isnan(strike)) return invalid("strike must be > 0");
    if (!(t > 0.0) && !std::isnan(t)) return invalid("t must be > 0");
    if (any_nan(strike, t)) return kNaN;
    const double k = quelm::log(strike / forward_at(t));
    const Local v = total_variance(k, t);
    if (!(v.w > 0.0)) return kNaN;
    const double first = 1.0 - k * v.dw / (2.0 * v.w);
    const double g = first * first - v.dw * v.dw / 4.0 * (1.0 / v.w + 0.25) + v.d2w / 2.0;
    const double local = v.dwdt / g;
    // Butterfly or calendar arbitrage leaves no real local volatility: NaN, not a number made up.
    return local >= 0.0 && g > 0.0 ? std::sqrt(local) : kNaN;
}

}  // namespace quelm::volatility

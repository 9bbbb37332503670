// VolSurface::from_prices: a chain of option prices implied quote by quote, at each expiry's
// rate and dividend yield, then fitted as from_vols does; with BadQuote::Skip the quotes that
// cannot be used are left out and recorded.
#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "quelm/core/math/elementary.hpp"
#include "quelm/core/text.hpp"
#include "quelm/pricing/black/implied_vol.hpp"
#include "quelm/volatility/surface.hpp"

namespace quelm::volatility {

namespace {

constexpr std::size_t kSliceQuotes = 5;  // what an SVI slice needs

Status check_weights(std::span<const double> weights, std::size_t n) {
    if (weights.empty()) return {};
    if (weights.size() != n) return bad_argument("weights must have one entry per quote");
    bool any = false;
    for (const double w : weights) {
        if (!(w >= 0.0) || !std::isfinite(w)) return invalid("weights must be finite and >= 0");
        any = any || w > 0.0;
    }
    if (!any) return invalid("weights must not all be zero");
    return {};
}

// A term rate read at one expiry; a curve's failure names what it was for.
Result<double> rate_at(const TermRate& r, double t, const char* what) {
    if (!r.curve) return r.flat;
    auto z = r.at(t);
    if (!z) return std::unexpected(Error{z.error().kind, std::string(what) + " curve at t=" + format_number(t) + ": " +
                                                             z.error().text});
    return z;
}

}  // namespace

Result<VolSurface> VolSurface::from_prices(const PriceChain& chain, double spot, const TermRate& rate,
                                           const TermRate& dividend_yield, BadQuote on_bad, Cancel& cancel) {
    const std::size_t n = chain.strikes.size();
    if (chain.expiries.size() != n || chain.prices.size() != n)
        return bad_argument("strikes, expiries and prices must have equal length");
    if (chain.types.size() != 1 && chain.types.size() != n)
        return bad_argument("option_types must be one option type or one per quote");
    QUELM_CHECK(check_weights(chain.weights, n));
    const bool skip = on_bad == BadQuote::Skip;
    const bool curves = rate.curve || dividend_yield.curve;
    // Settings, not quotes: a bad one stops the call in either mode.
    if (skip || curves) {
        if (!(spot > 0.0 && std::isfinite(spot))) return invalid("spot must be finite and > 0");
        if (!std::isfinite(rate.flat)) return invalid("rate must be finite");
        if (!std::isfinite(dividend_yield.flat)) return invalid("dividend_yield must be finite");
    }

    std::vector<DroppedQuote> dropped;
    std::vector<std::size_t> kept;
    std::vector<double> vols(n), rates(n), yields(n);
    for (std::size_t i = 0; i < n; ++i) {
        if (cancel.poll()) return cancelled();
        const double t = chain.expiries[i];
        const bool dated = t > 0.0 && std::isfinite(t);  // a curve is read only where t is an expiry
        if (curves && !dated) {
            if (!skip) return invalid("quote " + std::to_string(i) + ": expiries must be finite and > 0");
            dropped.push_back({i, t, chain.strikes[i], "expiries must be finite and > 0"});
            continue;
        }
        QUELM_TRY(r, rate_at(rate, t, "rate"));
        QUELM_TRY(q, rate_at(dividend_yield, t, "dividend_yield"));
        const auto v = pricing::implied_volatility(
            {.strike = chain.strikes[i], .expiry = t,
             .option_type = chain.types.size() == 1 ? chain.types[0] : chain.types[i]},
            {.spot = spot, .rate = r, .vol = 0.0, .dividend_yield = q}, chain.prices[i]);
        std::string reason;
        if (!v)
            reason = v.error().text;
        else if (skip && std::isnan(*v))
            reason = "no implied volatility: an input is NaN";
        else if (skip && !(*v > 0.0))
            reason = "implied volatility 0: the price is at its lower no-arbitrage bound";
        if (!reason.empty()) {
            if (!skip) return std::unexpected(Error{v.error().kind, "quote " + std::to_string(i) + ": " + reason});
            dropped.push_back({i, t, chain.strikes[i], std::move(reason)});
            continue;
        }
        vols[i] = *v;
        rates[i] = r;
        yields[i] = q;
        kept.push_back(i);
    }

    if (skip) {
        // An expiry left with fewer quotes than a slice needs goes out whole.
        std::map<double, std::size_t> per_expiry;
        for (const std::size_t i : kept) ++per_expiry[chain.expiries[i]];
        std::vector<std::size_t> fitted;
        for (const std::size_t i : kept) {
            const std::size_t left = per_expiry[chain.expiries[i]];
            if (left >= kSliceQuotes) {
                fitted.push_back(i);
                continue;
            }
            dropped.push_back({i, chain.expiries[i], chain.strikes[i],
                               "only " + std::to_string(left) + " usable quote" + (left == 1 ? "" : "s") +
                                   " at this expiry; a slice needs " + std::to_string(kSliceQuotes)});
        }
        kept = std::move(fitted);
        std::stable_sort(dropped.begin(), dropped.end(),
                         [](const DroppedQuote& a, const DroppedQuote& b) { return a.index < b.index; });
        if (kept.empty())
            return invalid("no quote left to fit: quote " + std::to_string(dropped.front().index) + ": " +
                           dropped.front().reason);
    }

    // The kept quotes, in input order (the fit sorts them by expiry, stably).
    std::vector<double> ks, ts, vs, ws, fs;
    for (const std::size_t i : kept) {
        ks.push_back(chain.strikes[i]);
        ts.push_back(chain.expiries[i]);
        vs.push_back(vols[i]);
        if (!chain.weights.empty()) ws.push_back(chain.weights[i]);
        if (curves) fs.push_back(spot * quelm::exp((rates[i] - yields[i]) * chain.expiries[i]));
    }
    const ForwardCurve fc = curves ? ForwardCurve{std::nullopt, 0.0, 0.0}
                                   : ForwardCurve{spot, rate.flat, dividend_yield.flat};
    QUELM_TRY(s, fit(ks, ts, vs, fc, fs, ws, cancel));
    s.dropped_ = std::move(dropped);
    return s;
}

}  // namespace quelm::volatility

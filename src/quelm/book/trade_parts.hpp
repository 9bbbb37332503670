// What the market trades share: the discount curve a trade reads by name, its curve
// dependence as a leg of the curves' risk, and an option's volatility off a market surface
// with its vega shared out over the surface's slices.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "quelm/book/market.hpp"
#include "quelm/book/market_trade.hpp"
#include "quelm/core/error.hpp"

namespace quelm::book::parts {

inline constexpr double kVolPoint = 0.01;

[[nodiscard]] inline Error named(const std::string& what, const Error& e) {
    return Error{e.kind, what + ": " + e.text};
}

// The curve a trade discounts on: the named curve's own discount curve (itself, or the one
// it was built on), so that its value and its risk read the same discount factors.
struct Discounting {
    const curves::YieldCurve* curve = nullptr;
    std::optional<std::size_t> index;  // in the market, when it is a market curve
};
[[nodiscard]] Result<Discounting> discounting(const Market& market, const std::string& name);

// A leg of amounts (the value's derivatives in the discount factors of their dates) on the
// curve; an error when the curve is not one of the market's.
[[nodiscard]] Result<CurveLeg> leg_on(const Discounting& d, const std::string& name, dates::Serial date,
                                      double amount);

// A pair's two curves: the quote currency's (domestic) and the base's (foreign), each as
// named or else the market's curve of that currency (currency_curve).
struct PairCurves {
    std::string domestic, foreign;
};
[[nodiscard]] Result<PairCurves> pair_curves(const Market& market, const std::string& pair,
                                             const std::string& domestic, const std::string& foreign);

// What an FX trade reads at one date: its two curves (as pair_curves names them), the spot
// and both discount factors.
struct PairAt {
    PairCurves names;
    Discounting domestic, foreign;
    double spot = 0.0, pd = 0.0, pf = 0.0;
};
[[nodiscard]] Result<PairAt> pair_at(const Market& market, const std::string& pair, const std::string& domestic,
                                     const std::string& foreign, dates::Serial date);

// A delta per unit of the pair's spot, on the market's spot of the pair or of its inverse
// (S = 1 / s: d/ds = -delta / s²).
[[nodiscard]] std::vector<FxDelta> fx_deltas(const Market& market, const std::string& pair, double delta);

// The market's only curve, else an error asking for one.
[[nodiscard]] Result<std::string> only_curve(const Market& market, const std::string& what);

// A market surface's volatility at a strike and time, finite; its index in the market.
struct SurfaceVol {
    const volatility::VolSurface* surface = nullptr;
    std::size_t index = 0;
    double vol = 0.0;
};
[[nodiscard]] Result<SurfaceVol> surface_vol(const Market& market, const std::string& name, double strike, double t);

// `total` vega (per point) of an option at (strike, t) shared over the slices: the surface
// interpolates total variance between the two slices around t at fixed log-moneyness (flat
// in volatility outside them), so a point on slice j moves the volatility by
// λ_j σ_j t_j / (σ t).
[[nodiscard]] Result<std::vector<SliceVega>> slice_vegas(const SurfaceVol& at, double strike, double t, double total);

}  // namespace quelm::book::parts

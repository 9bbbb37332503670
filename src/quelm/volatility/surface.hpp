// An implied-volatility surface: one SVI slice per expiry, total variance interpolated
// linearly in time at fixed log-moneyness ln(K / F(t)) over slices lifted to be
// non-decreasing in time (no calendar arbitrage between slices), and Dupire's local
// volatility by Gatheral's formula in total variance. Strikes in price units, t in years.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "quelm/core/cancel.hpp"
#include "quelm/core/choice.hpp"
#include "quelm/core/error.hpp"
#include "quelm/pricing/option.hpp"
#include "quelm/curves/curve.hpp"
#include "quelm/volatility/svi.hpp"

namespace quelm::volatility {

// One fitted expiry.
struct SurfaceSlice {
    double t, forward;
    SviParams svi;
    double rmse, max_error, min_g;
    bool butterfly_free;
    bool calendar_repaired;  // lifted somewhere to the earlier slices' variance
    std::size_t quotes;
};

// How forwards are known: from spot with rates (F = S e^((r - q) t)), or given per slice
// (ln F interpolated linearly in t between slices, flat outside).
struct ForwardCurve {
    std::optional<double> spot;
    double rate = 0.0, dividend_yield = 0.0;
};

// A rate per expiry: a flat number, or a yield curve's continuously compounded zero rate
// to that expiry (the curve is borrowed for the call that reads it).
struct TermRate {
    double flat = 0.0;
    const curves::YieldCurve* curve = nullptr;
    [[nodiscard]] Result<double> at(double t) const { return curve ? curve->zero_rate(t) : Result<double>{flat}; }
};

// What from_prices does with a quote it cannot use: stop, or leave it out and record why.
enum class BadQuote : unsigned char { Raise, Skip };
inline constexpr Choices<BadQuote, 2> kBadQuotes{
    "on_bad_quote", Listing::Quoted, {{{"raise", BadQuote::Raise}, {"skip", BadQuote::Skip}}}};

// A quote left out of the fit: its position in the inputs, where it is, and why.
struct DroppedQuote {
    std::size_t index;
    double expiry, strike;
    std::string reason;
};

// A chain of option prices: one quote per index. types holds one option type or one per
// quote; weights is empty (all 1) or one per quote, used by the slice fits.
struct PriceChain {
    std::span<const double> strikes, expiries, prices;
    std::span<const OptionType> types;
    std::span<const double> weights;
};

class VolSurface {
public:
    // One quote per index. forwards: empty (use the spot and rates) or one per quote,
    // equal within an expiry.
    [[nodiscard]] static Result<VolSurface> from_vols(std::span<const double> strikes, std::span<const double> expiries,
                                                      std::span<const double> vols, const ForwardCurve& curve,
                                                      std::span<const double> forwards, Cancel& cancel);
    // Option prices, implied into Black-Scholes vols first, each quote at its expiry's rate
    // and dividend yield. With flat rates the surface keeps the spot and rates (as from_vols
    // with a spot); with a curve it keeps each expiry's forward S e^((r(t) - q(t)) t).
    // BadQuote::Skip leaves out the quotes that cannot be implied (and the rest of an expiry
    // left with too few to fit) and lists them in dropped().
    [[nodiscard]] static Result<VolSurface> from_prices(const PriceChain& chain, double spot, const TermRate& rate,
                                                        const TermRate& dividend_yield, BadQuote on_bad,
                                                        Cancel& cancel);
    // A surface from its slices as slice_row() writes them (unpickling), exactly.
    [[nodiscard]] static Result<VolSurface> from_rows(std::span<const std::span<const double>> rows,
                                                      const ForwardCurve& curve,
                                                      std::vector<DroppedQuote> dropped = {});

    [[nodiscard]] Result<double> vol(double strike, double t) const;
    [[nodiscard]] Result<double> local_vol(double strike, double t) const;
    [[nodiscard]] Result<double> forward(double t) const;

    [[nodiscard]] std::span<const SurfaceSlice> slices() const { return slices_; }
    [[nodiscard]] const ForwardCurve& curve() const { return curve_; }
    // The quotes from_prices left out, in input order (empty otherwise).
    [[nodiscard]] std::span<const DroppedQuote> dropped() const { return dropped_; }
    // t, forward, a, b, rho, m, sigma, rmse, max_error, min_g, butterfly_free, calendar_repaired, quotes.
    [[nodiscard]] static std::vector<double> slice_row(const SurfaceSlice& s);

    friend bool operator==(const VolSurface& a, const VolSurface& b);

private:
    VolSurface() = default;
    // from_vols with weights (empty or one per quote).
    [[nodiscard]] static Result<VolSurface> fit(std::span<const double> strikes, std::span<const double> expiries,
                                                std::span<const double> vols, const ForwardCurve& curve,
                                                std::span<const double> forwards, std::span<const double> weights,
                                                Cancel& cancel);
    struct Local {
        double w, dw, d2w, dwdt;
    };
    [[nodiscard]] double forward_at(double t) const;
    [[nodiscard]] SviValue lifted(std::size_t i, double k) const;  // the envelope of slices 0..i
    [[nodiscard]] Local total_variance(double k, double t) const;
    void mark_calendar();

    std::vector<SurfaceSlice> slices_;
    ForwardCurve curve_;
    std::vector<DroppedQuote> dropped_;
};

}  // namespace quelm::volatility

// An implied-volatility surface: one SVI slice per expiry, total variance interpolated
// linearly in time at fixed log-moneyness ln(K / F(t)) over slices lifted to be
// non-decreasing in time (no calendar arbitrage between slices), and Dupire's local
// volatility by Gatheral's formula in total variance. Strikes in price units, t in years.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "quelm/core/cancel.hpp"
#include "quelm/core/error.hpp"
#include "quelm/core/option.hpp"
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

class VolSurface {
public:
    // One quote per index. forwards: empty (use the spot and rates) or one per quote,
    // equal within an expiry.
    [[nodiscard]] static Result<VolSurface> from_vols(std::span<const double> strikes, std::span<const double> expiries,
                                                      std::span<const double> vols, const ForwardCurve& curve,
                                                      std::span<const double> forwards, Cancel& cancel);
    // Option prices, implied into Black-Scholes vols first (types: one or one per quote).
    [[nodiscard]] static Result<VolSurface> from_prices(std::span<const double> strikes,
                                                        std::span<const double> expiries,
                                                        std::span<const double> prices,
                                                        std::span<const OptionType> types, double spot, double rate,
                                                        double dividend_yield, Cancel& cancel);
    // A surface from its slices as slice_row() writes them (unpickling), exactly.
    [[nodiscard]] static Result<VolSurface> from_rows(std::span<const std::span<const double>> rows,
                                                      const ForwardCurve& curve);

    [[nodiscard]] Result<double> vol(double strike, double t) const;
    [[nodiscard]] Result<double> local_vol(double strike, double t) const;
    [[nodiscard]] Result<double> forward(double t) const;

    [[nodiscard]] std::span<const SurfaceSlice> slices() const { return slices_; }
    [[nodiscard]] const ForwardCurve& curve() const { return curve_; }
    // t, forward, a, b, rho, m, sigma, rmse, max_error, min_g, butterfly_free, calendar_repaired, quotes.
    [[nodiscard]] static std::vector<double> slice_row(const SurfaceSlice& s);

    friend bool operator==(const VolSurface& a, const VolSurface& b);

private:
    VolSurface() = default;
    struct Local {
        double w, dw, d2w, dwdt;
    };
    [[nodiscard]] double forward_at(double t) const;
    [[nodiscard]] SviValue lifted(std::size_t i, double k) const;  // the envelope of slices 0..i
    [[nodiscard]] Local total_variance(double k, double t) const;
    void mark_calendar();

    std::vector<SurfaceSlice> slices_;
    ForwardCurve curve_;
};

}  // namespace quelm::volatility

// Fixed-rate bond: remaining cash flows (years from settlement, amount), coupon
// frequency and accrued interest. Prices, durations (years) and convexity (years²)
// from a flat yield compounded at the frequency; yield from price (pricing off a curve:
// curves/bond_off_curve.hpp).
#pragma once

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "quelm/core/cancel.hpp"
#include "quelm/core/error.hpp"

namespace quelm::bonds {

struct Cashflow {
    double time;    // years, finite, > 0
    double amount;  // finite
};

// Non-empty, finite positive times and finite amounts, times strictly increasing.
[[nodiscard]] Status validate_cashflows(std::span<const Cashflow> flows);

// P(y) = Σ a·(1 + y/f)^(−f·t).
// Each pass polls `cancel` between blocks of flows; a stopped one fails as cancelled.
[[nodiscard]] Result<double> dirty_price_with_yield(std::span<const Cashflow> flows, std::uint32_t frequency,
                                                    double y, Cancel& cancel = never_cancel());
[[nodiscard]] Result<double> macaulay_duration(std::span<const Cashflow> flows, std::uint32_t frequency, double y,
                                               Cancel& cancel = never_cancel());
[[nodiscard]] Result<double> convexity(std::span<const Cashflow> flows, std::uint32_t frequency, double y,
                                       Cancel& cancel = never_cancel());
// The flat yield whose dirty price is dirty_price (Brent on [−0.9, 2]).
[[nodiscard]] Result<double> yield_from_dirty(std::span<const Cashflow> flows, std::uint32_t frequency,
                                              double dirty_price, Cancel& cancel = never_cancel());

class FixedRateBond {
public:
    [[nodiscard]] static Result<FixedRateBond> regular(double face, double coupon_rate, std::uint32_t frequency,
                                                       std::uint32_t n_periods, Cancel& cancel = never_cancel());
    [[nodiscard]] static Result<FixedRateBond> from_cashflows(std::uint32_t frequency, std::vector<Cashflow> flows,
                                                              double face, double coupon_rate, double accrued);
    // The same from aligned payment times and amounts.
    [[nodiscard]] static Result<FixedRateBond> from_cashflows(std::uint32_t frequency, std::span<const double> times,
                                                              std::span<const double> amounts, double face,
                                                              double coupon_rate, double accrued);

    [[nodiscard]] Result<double> dirty_price_from_yield(double y, Cancel& cancel = never_cancel()) const;
    [[nodiscard]] Result<double> clean_price_from_yield(double y, Cancel& cancel = never_cancel()) const;
    [[nodiscard]] Result<double> yield_to_maturity(double clean_price, Cancel& cancel = never_cancel()) const;
    [[nodiscard]] Result<double> macaulay_duration(double y, Cancel& cancel = never_cancel()) const;
    [[nodiscard]] Result<double> modified_duration(double y, Cancel& cancel = never_cancel()) const;
    [[nodiscard]] Result<double> convexity(double y, Cancel& cancel = never_cancel()) const;

    [[nodiscard]] std::span<const Cashflow> cashflows() const { return flows_; }
    [[nodiscard]] double face() const { return face_; }
    [[nodiscard]] double coupon_rate() const { return coupon_rate_; }
    [[nodiscard]] double accrued() const { return accrued_; }
    [[nodiscard]] std::uint32_t frequency() const { return frequency_; }

    // Same flows, frequency and accrued; face and coupon rate compared as stored
    // (NaN equal to NaN, since they are kept unchanged and never tested).
    friend bool operator==(const FixedRateBond& a, const FixedRateBond& b);

private:
    FixedRateBond() = default;
    std::vector<Cashflow> flows_;
    double face_ = 0.0;
    double coupon_rate_ = 0.0;
    double accrued_ = 0.0;
    std::uint32_t frequency_ = 1;
};

}  // namespace quelm::bonds

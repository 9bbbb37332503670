// Caps and floors on a term index: a strip of caplets (floorlets), each an option on the
// index rate over one period of the schedule, paid at the period's end on its accrual.
// Forwards are the projection curve's own period forwards, (P(start) / P(end) - 1) / accrual;
// payments discount on the discount curve; each caplet's vol time runs act/365f from the
// curve's reference date (the trade date) to its fixing. A caplet that fixed on or before
// the reference date is left out, as the market quotes a spot-starting cap without its
// first caplet. Rates are decimals; prices in the units of the notional.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "quelm/core/cancel.hpp"
#include "quelm/core/choice.hpp"
#include "quelm/core/error.hpp"
#include "quelm/curves/curve.hpp"
#include "quelm/dates/adjust.hpp"
#include "quelm/dates/calendar.hpp"
#include "quelm/dates/day_count.hpp"
#include "quelm/dates/tenor.hpp"
#include "quelm/rates/optionlet.hpp"

namespace quelm::rates {

enum class CapKind : std::uint8_t { Cap, Floor };

inline constexpr Choices<CapKind, 2> kCapKinds{
    "kind",
    Listing::Quoted,
    {{{"cap", CapKind::Cap}, {"floor", CapKind::Floor}}},
    true,
    true,
};

struct CapFloor {
    CapKind kind = CapKind::Cap;
    std::optional<dates::Tenor> tenor;  // from the start; or
    std::optional<dates::Serial> maturity;  // the end date (exactly one of the two)
    double strike = 0.0;
    dates::Tenor index_tenor{6, dates::TenorUnit::Months};
    std::optional<dates::Serial> effective;  // none: spot
    double notional = 1.0;
    dates::DayCount day_count{dates::DayCountKind::Act360, {}};
    dates::Calendar calendar;
    dates::Convention convention = dates::Convention::ModifiedFollowing;
    std::uint32_t settlement_days = 2;
    std::uint32_t fixing_days = 2;
    // As a trade of a book: market curves and rate vol by name, as Swaption's.
    std::string curve, discount_curve, vol;
    friend bool operator==(const CapFloor&, const CapFloor&) = default;
};

// Messages start "cap: " or "floor: ".
[[nodiscard]] Status check(const CapFloor& c);
[[nodiscard]] std::string describe(const CapFloor& c);

// One period of the strip on curves, live or not.
struct Caplet {
    dates::Serial fixing, start, end, payment;
    double accrual;   // on the cap's day count
    double t;         // vol time to the fixing, act/365f from the reference date
    double forward;   // the period forward
    double discount;  // at the payment date, on the discount curve
    double vol;
    double price;     // notional × accrual × discount × optionlet (0 when fixed)
    bool fixed;       // fixed on or before the reference date: left out
};

// A vol for each caplet's fixing time: a flat number or a term structure, linear in
// variance between its times and flat outside.
struct VolTerm {
    std::vector<double> times, vols;  // one vol and no times: flat
    [[nodiscard]] double at(double t) const;
    friend bool operator==(const VolTerm&, const VolTerm&) = default;
};
[[nodiscard]] Status check_vol_term(const VolTerm& v);

struct CurveArgs {
    const curves::YieldCurve* curve = nullptr;
    const curves::YieldCurve* discount = nullptr;  // may be null: curve's own discount curve, else curve
};

[[nodiscard]] Result<std::vector<Caplet>> caplets(const CapFloor& c, const CurveArgs& on, const VolTerm& vol,
                                                  const Quoting& q);
[[nodiscard]] Result<double> cap_price(const CapFloor& c, const CurveArgs& on, const VolTerm& vol, const Quoting& q);

// A cap with its caplets laid out on curves once (forwards, discount factors, times): priced
// at any flat vol and strike with the bits of cap_price on those curves for the cap of that
// strike (the caplets' forwards do not depend on it).
struct PricedCap {
    CapFloor cap;
    std::vector<Caplet> caplets;
};
[[nodiscard]] Result<PricedCap> cap_priced_on(const CapFloor& c, const CurveArgs& on);
// `strike` absent: the cap's own.
[[nodiscard]] Result<double> priced_cap_price(const PricedCap& p, double vol, std::optional<double> strike,
                                              const Quoting& q);
// d price / d vol (all caplets' vols moved together) and d price / d forward (every forward
// moved together), per unit.
[[nodiscard]] Result<double> cap_vega(const CapFloor& c, const CurveArgs& on, const VolTerm& vol, const Quoting& q);
[[nodiscard]] Result<double> cap_delta(const CapFloor& c, const CurveArgs& on, const VolTerm& vol, const Quoting& q);
// The strike at which the cap and the floor cost the same: the live periods' forwards
// averaged on accrual × discount.
[[nodiscard]] Result<double> cap_atm_strike(const CapFloor& c, const CurveArgs& on);
// The flat vol that reprices the strip: the exact inversion for a single live caplet,
// Newton on the strip otherwise.
[[nodiscard]] Result<double> cap_implied_vol(const CapFloor& c, double price, const CurveArgs& on, const Quoting& q);

}  // namespace quelm::rates

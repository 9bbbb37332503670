// European swaptions: the right, at expiry, to enter a swap from its spot date (expiry plus
// settlement days) for `tenor`, paying (payer) or receiving (receiver) `strike` on the fixed
// leg against the index floating leg (the curves' Swap on its conventions). Physical
// settlement is worth the annuity on the discount curve times the optionlet on the forward
// swap rate; cash settlement takes the par-yield annuity at that forward, discounted from the
// swap's start. Vol time runs act/365f from the curve's reference date to expiry.
#pragma once

#include <cstdint>
#include <optional>
#include <memory>
#include <string>
#include <variant>

#include "quelm/core/choice.hpp"
#include "quelm/core/error.hpp"
#include "quelm/curves/instrument.hpp"
#include "quelm/curves/layout.hpp"
#include "quelm/curves/sensitivity.hpp"
#include "quelm/rates/cap_floor.hpp"
#include "quelm/rates/optionlet.hpp"

namespace quelm::rates {

enum class SwaptionKind : std::uint8_t { Payer, Receiver };
inline constexpr Choices<SwaptionKind, 2> kSwaptionKinds{
    "kind",
    Listing::Quoted,
    {{{"payer", SwaptionKind::Payer}, {"receiver", SwaptionKind::Receiver}}},
    true,
    true,
};

enum class Settlement : std::uint8_t { Physical, Cash };
inline constexpr Choices<Settlement, 2> kSettlements{
    "settlement",
    Listing::Quoted,
    {{{"physical", Settlement::Physical}, {"cash", Settlement::Cash}}},
    true,
    true,
};

struct Swaption {
    std::variant<dates::Tenor, dates::Serial> expiry;  // after the reference date, or a date
    dates::Tenor tenor{10, dates::TenorUnit::Years};
    double strike = 0.0;
    SwaptionKind kind = SwaptionKind::Payer;
    Settlement settlement = Settlement::Physical;
    std::uint32_t fixed_frequency = 1;
    dates::DayCount fixed_day_count{dates::DayCountKind::Thirty360, {}};
    dates::Tenor float_tenor{6, dates::TenorUnit::Months};
    double notional = 1.0;
    dates::Calendar calendar;
    std::uint32_t settlement_days = 2;
    // As a trade of a book: the market curves it reads and the market rate vol it is priced
    // on, by name ("": the market's only curve, the projection curve's own discount curve,
    // the market's only rate vol). Pricing on curves given directly ignores them.
    std::string curve, discount_curve, vol;
    // The underlying's layout for the last trade date it was priced on (not part of the
    // value; copies share it): repricing on one curve date skips the schedules.
    curves::LayoutMemo memo;
    // Its terms on the last pair of curves it was read on (by their stamps): repricing on
    // the same curves at another vol reads no curve at all.
    curves::LayoutMemo terms_memo;
    friend bool operator==(const Swaption&, const Swaption&) = default;
};

// Messages start "swaption: ".
[[nodiscard]] Status check(const Swaption& s);
[[nodiscard]] Status check_strike(double strike);
[[nodiscard]] std::string describe(const Swaption& s);

// The underlying on curves: its expiry, the option time, the forward swap rate and the
// annuity the price is read on (physical or cash, per unit of notional).
struct SwaptionTerms {
    dates::Serial expiry, start;
    double t, forward, annuity;
};
[[nodiscard]] Result<SwaptionTerms> swaption_terms(const Swaption& s, const CurveArgs& on);

// The terms with what they were read from: the underlying's layout, the discount factors at
// its dates, and (cash settlement) the par-yield annuity before discounting from the start.
struct SwaptionReading {
    SwaptionTerms terms;
    std::shared_ptr<const curves::Layout> layout;
    curves::Reading reading;
    double cash = 0.0;     // Σ accrual × (1 + F/m)^(-m × years); cash settlement only
    double p_start = 0.0;  // the discount factor at the start; cash settlement only
};
[[nodiscard]] Result<SwaptionReading> swaption_reading(const Swaption& s, const CurveArgs& on);

[[nodiscard]] Result<double> swaption_price(const Swaption& s, const CurveArgs& on, double vol, const Quoting& q);

// A swaption with its terms on curves read once: priced at any vol and strike (the forward
// and annuity do not depend on the strike) with the bits of swaption_price on those curves
// for the swaption of that strike.
struct PricedSwaption {
    Swaption swaption;
    SwaptionTerms terms;
};
[[nodiscard]] Result<PricedSwaption> priced_on(const Swaption& s, const CurveArgs& on);
// `strike` absent: the swaption's own.
[[nodiscard]] Result<double> priced_price(const PricedSwaption& p, double vol, std::optional<double> strike,
                                          const Quoting& q);
[[nodiscard]] Result<double> swaption_implied_vol(const Swaption& s, double price, const CurveArgs& on,
                                                  const Quoting& q);

}  // namespace quelm::rates

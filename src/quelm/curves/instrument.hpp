// The market quotes a curve is built from, as immutable terms: deposits, FRAs, futures,
// overnight-index swaps, interest-rate swaps and bond prices. Rates are decimals (simple
// rates on the instrument's day count; swap rates per its fixed leg), futures prices per
// 100 (rate = 1 - price/100), bond prices clean, in the bond's own units (per its face).
// Dates are relative to the curve's reference date (the trade date) except a future's
// start, a bond's schedule and a trade's effective and maturity dates, which are fixed
// dates (serials).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "quelm/bonds/dated_bond.hpp"
#include "quelm/core/error.hpp"
#include "quelm/curves/overnight_index.hpp"
#include "quelm/dates/adjust.hpp"
#include "quelm/dates/calendar.hpp"
#include "quelm/dates/day_count.hpp"
#include "quelm/dates/tenor.hpp"

namespace quelm::curves {

struct LaidOut;

// Where an instrument keeps its layout (layout.hpp) for the last reference date it was laid
// out on: copies of one instrument share it, so curves rebuilt on one trade date (risk,
// scenarios) lay each instrument out once. Not part of the instrument's value: memos always
// compare equal. Default: none (nothing kept); `fresh()` gives a new, empty one. Safe to read
// and replace from any thread. An instrument keeps a LaidOut; another owner (a note) keeps
// its own kind, always the one.
class LayoutMemo {
public:
    [[nodiscard]] static LayoutMemo fresh();
    [[nodiscard]] std::shared_ptr<const LaidOut> last() const { return last_as<LaidOut>(); }
    void keep(std::shared_ptr<const LaidOut> laid) const { keep_any(std::move(laid)); }
    template <class T>
    [[nodiscard]] std::shared_ptr<const T> last_as() const {
        return std::static_pointer_cast<const T>(last_any());
    }
    [[nodiscard]] std::shared_ptr<const void> last_any() const;
    void keep_any(std::shared_ptr<const void> laid) const;
    [[nodiscard]] bool empty() const { return cell_ == nullptr; }
    friend bool operator==(const LayoutMemo&, const LayoutMemo&) { return true; }

private:
    struct Cell;
    std::shared_ptr<Cell> cell_;
};

// The conventions a money-market or swap quote shares: how its rate accrues, which days
// are business days, the spot lag from the trade date and how dates roll.
struct RateTerms {
    dates::DayCount day_count{dates::DayCountKind::Act360, {}};
    dates::Calendar calendar;
    std::uint32_t settlement_days = 2;
    dates::Convention convention = dates::Convention::ModifiedFollowing;
    friend bool operator==(const RateTerms&, const RateTerms&) = default;
};

// What makes a quote a trade: its size and, unless it runs from spot for its tenor, its
// dates. `notional` is signed: negative, the other side of the position long the quote.
// `effective`: none (spot), a start date, or a forward tenor after spot; `maturity`: an
// end date in place of the tenor. The defaults are the plain quote a curve is built from.
// `curve` and `discount_curve` name the market curves a book prices it on (empty: chosen
// by the book's rules); they never change what the instrument is worth on given curves.
struct Trade {
    double notional = 1.0;
    std::variant<std::monostate, dates::Serial, dates::Tenor> effective;
    std::optional<dates::Serial> maturity;
    std::string curve, discount_curve;
    [[nodiscard]] bool plain() const {
        return notional == 1.0 && std::holds_alternative<std::monostate>(effective) && !maturity;
    }
    friend bool operator==(const Trade&, const Trade&) = default;
};

// A deposit from spot to spot + tenor at a simple rate (or over the trade's dates: the end
// `tenor` after the start, or at its maturity; exactly one of the two).
struct Deposit {
    std::optional<dates::Tenor> tenor;
    double rate = 0.0;
    RateTerms terms;
    Trade trade;
    LayoutMemo memo;
    friend bool operator==(const Deposit&, const Deposit&) = default;
};

// A forward rate agreement from spot + start to spot + end, both tenors counted from spot;
// the trade's effective date stands for `start` and its maturity for `end` (exactly one of
// each pair; a forward tenor as effective is kept as `start`).
struct Fra {
    std::optional<dates::Tenor> start, end;
    double rate = 0.0;
    RateTerms terms;
    Trade trade;
    LayoutMemo memo;
    friend bool operator==(const Fra&, const Fra&) = default;
};

// An interest-rate future on the period from an IMM date (a third Wednesday) for `tenor`:
// its rate is 1 - price/100, the forward rate plus the convexity adjustment. A future on an
// overnight index covers the exchange's reference period instead: 3M from its IMM date to
// the IMM date three months later, 1M the calendar month that starts on `start`. Its dates
// are the contract's: a trade in it has a notional only.
struct Future {
    dates::Serial start = 0;
    double price = 0.0;
    double convexity = 0.0;
    dates::Tenor tenor{3, dates::TenorUnit::Months};
    dates::DayCount day_count{dates::DayCountKind::Act360, {}};
    dates::Calendar calendar;
    dates::Convention convention = dates::Convention::ModifiedFollowing;
    std::optional<OvernightIndex> index;
    Trade trade;
    LayoutMemo memo;
    friend bool operator==(const Future&, const Future&) = default;
};

// An overnight-index swap: a fixed rate against the overnight rate compounded over each
// period, both legs on one schedule (`payment_frequency` payments a year, a single one up
// to that period), paid `payment_lag` business days after each period's end. `index` only
// records the index whose conventions the terms were taken from. A trade's dates move the
// start and the end as a deposit's.
struct Ois {
    std::optional<dates::Tenor> tenor;
    double rate = 0.0;
    RateTerms terms;
    std::uint32_t payment_frequency = 1;
    std::uint32_t payment_lag = 0;
    std::optional<OvernightIndex> index;
    Trade trade;
    LayoutMemo memo;
    friend bool operator==(const Ois&, const Ois&) = default;
};

// A fixed-for-floating swap: the fixed leg pays `fixed_frequency` times a year on the
// terms' day count (the fixed rate's: "fixed_day_count" to its users); the floating leg
// pays the index forward over each period of `float_tenor` on `float_day_count`. A trade's
// dates move the start and the end as a deposit's.
struct Swap {
    std::optional<dates::Tenor> tenor;
    double rate = 0.0;
    RateTerms terms{{dates::DayCountKind::Thirty360, {}}, {}, 2, dates::Convention::ModifiedFollowing};
    std::uint32_t fixed_frequency = 1;
    dates::Tenor float_tenor{6, dates::TenorUnit::Months};
    dates::DayCount float_day_count{dates::DayCountKind::Act360, {}};
    Trade trade;
    LayoutMemo memo;
    friend bool operator==(const Swap&, const Swap&) = default;
};

// A dated bond at a clean price (per the bond's face), settling on its own lag after the
// trade date. Its dates are the bond's: a trade in it has a notional only (bonds of its
// face).
struct BondQuote {
    bonds::DatedBond bond;
    double clean_price = 0.0;
    Trade trade;
    LayoutMemo memo;
    friend bool operator==(const BondQuote&, const BondQuote&) = default;
};

using Instrument = std::variant<Deposit, Fra, Future, Ois, Swap, BondQuote>;

// The checks of each kind's terms; their messages start with the kind ("deposit: ...").
[[nodiscard]] Status check(const Deposit& d);
[[nodiscard]] Status check(const Fra& f);
[[nodiscard]] Status check(const Future& f);
[[nodiscard]] Status check(const Ois& o);
[[nodiscard]] Status check(const Swap& s);
[[nodiscard]] Status check(const BondQuote& b);

// The ranges the checks hold quotes to: a rate (and a future's convexity adjustment) in
// (-1, 1), within ±100%; a futures price in (0, 200) (a rate above -100%), a bond's clean price in
// [0.01, 1000] per 100 of face and its coupon rate in [0, 1].
inline constexpr double kMaxRate = 1.0;
inline constexpr double kMaxFuturePrice = 200.0;
inline constexpr double kMinBondPrice = 0.01, kMaxBondPrice = 1000.0;  // per 100 of face
inline constexpr double kMaxCoupon = 1.0;

// A day count a quote's periods (or a curve's times) can use: not 30e/360-isda, which
// needs the termination date of a schedule. `who` and `key` name it in the message.
[[nodiscard]] Status check_period_day_count(std::string_view who, std::string_view key, const dates::DayCount& dc);

// The trade terms of any kind.
[[nodiscard]] const Trade& trade_of(const Instrument& i);

// The quote as given (a rate, a futures price or a clean price) ...
[[nodiscard]] double quoted(const Instrument& i);
// ... and the one a curve matches: a rate (a future's is 1 - price/100), a bond's clean price.
[[nodiscard]] double matched_quote(const Instrument& i);

// How the instrument reads back in Python ("Deposit('3M', 0.0325)", options that differ
// from the defaults added as keywords): the name errors use.
[[nodiscard]] std::string describe(const Instrument& i);
[[nodiscard]] std::string tenor_text(dates::Tenor t);

// The terms an Ois or Future takes without an index: act/360 on TARGET, spot T+2, paid at
// each period's end.
[[nodiscard]] IndexConventions plain_conventions();

// A hash of the terms the instrument compares by: equal instruments hash equal.
[[nodiscard]] std::uint64_t hash_of(const Instrument& i);

}  // namespace quelm::curves

// The market quotes a curve is built from, as immutable terms: deposits, FRAs, futures,
// overnight-index swaps, interest-rate swaps and bond prices. Rates are decimals (simple
// rates on the instrument's day count; swap rates per its fixed leg), futures prices per
// 100 (rate = 1 - price/100), bond prices clean, in the bond's own units (per its face).
// Dates are relative to the curve's reference date (the trade date) except a future's
// start and a bond's schedule, which are fixed dates (serials).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <variant>

#include "quelm/bonds/dated_bond.hpp"
#include "quelm/core/error.hpp"
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
// and replace from any thread.
class LayoutMemo {
public:
    [[nodiscard]] static LayoutMemo fresh();
    [[nodiscard]] std::shared_ptr<const LaidOut> last() const;
    void keep(std::shared_ptr<const LaidOut> laid) const;
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

// A deposit from spot to spot + tenor at a simple rate.
struct Deposit {
    dates::Tenor tenor;
    double rate = 0.0;
    RateTerms terms;
    LayoutMemo memo;
    friend bool operator==(const Deposit&, const Deposit&) = default;
};

// A forward rate agreement from spot + start to spot + end.
struct Fra {
    dates::Tenor start, end;
    double rate = 0.0;
    RateTerms terms;
    LayoutMemo memo;
    friend bool operator==(const Fra&, const Fra&) = default;
};

// An interest-rate future on the period from an IMM date (a third Wednesday) for `tenor`:
// its rate is 1 - price/100, the forward rate plus the convexity adjustment.
struct Future {
    dates::Serial start = 0;
    double price = 0.0;
    double convexity = 0.0;
    dates::Tenor tenor{3, dates::TenorUnit::Months};
    dates::DayCount day_count{dates::DayCountKind::Act360, {}};
    dates::Calendar calendar;
    dates::Convention convention = dates::Convention::ModifiedFollowing;
    LayoutMemo memo;
    friend bool operator==(const Future&, const Future&) = default;
};

// An overnight-index swap: a fixed rate against the overnight rate compounded over each
// period, both legs on one schedule (`payment_frequency` payments a year, a single one up
// to that period), paid at period ends.
struct Ois {
    dates::Tenor tenor;
    double rate = 0.0;
    RateTerms terms;
    std::uint32_t payment_frequency = 1;
    LayoutMemo memo;
    friend bool operator==(const Ois&, const Ois&) = default;
};

// A fixed-for-floating swap: the fixed leg pays `fixed_frequency` times a year on
// `fixed_day_count`; the floating leg pays the index forward over each period of
// `float_tenor` on `float_day_count`.
struct Swap {
    dates::Tenor tenor;
    double rate = 0.0;
    std::uint32_t fixed_frequency = 1;
    dates::DayCount fixed_day_count{dates::DayCountKind::Thirty360, {}};
    dates::Tenor float_tenor{6, dates::TenorUnit::Months};
    dates::DayCount float_day_count{dates::DayCountKind::Act360, {}};
    dates::Calendar calendar;
    std::uint32_t settlement_days = 2;
    dates::Convention convention = dates::Convention::ModifiedFollowing;
    LayoutMemo memo;
    friend bool operator==(const Swap&, const Swap&) = default;
};

// A dated bond at a clean price (per the bond's face), settling on its own lag after the
// trade date.
struct BondQuote {
    bonds::DatedBond bond;
    double clean_price = 0.0;
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

// The quote as given (a rate, a futures price or a clean price) ...
[[nodiscard]] double quoted(const Instrument& i);
// ... and the one a curve matches: a rate (a future's is 1 - price/100), a bond's clean price.
[[nodiscard]] double matched_quote(const Instrument& i);

// How the instrument reads back in Python ("Deposit('3M', 0.0325)", options that differ
// from the defaults added as keywords): the name errors use.
[[nodiscard]] std::string describe(const Instrument& i);
[[nodiscard]] std::string tenor_text(dates::Tenor t);

}  // namespace quelm::curves

// An instrument laid out on dates at a reference (trade) date: the dates it reads on the
// projection curve (forwards) and on the discount curve (payments), and its value as a
// function of the discount factors there. Three forms cover every quote: a simple
// forward (deposit, FRA, future), a swap (fixed leg against forward periods; OIS and IRS),
// a bond (payments over the discount factor at settlement). Rates are decimals; a bond's
// amounts and prices are per its face.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "quelm/bonds/dated_bond.hpp"
#include "quelm/core/error.hpp"
#include "quelm/curves/instrument.hpp"

namespace quelm::curves {

// Note: a floating-rate note held, as a swap's legs: the floating periods plus the spread
// (`quote`) on each period's accrual (`fixed`), and its face (`flows`) at maturity.
// Linear: fixed amounts times discount factors, on the projection curve (`proj_flows`) and
// on the discount curve (`flows`): a trade's value to first order in the curves, its
// amounts the value's derivatives in those discount factors, so that risk reads a trade
// of any kind through the curves' own chain.
enum class Form : std::uint8_t { Simple, Swap, Bond, Note, Linear };

struct FloatPeriod {
    std::uint32_t start, end;  // indices into Layout::proj
    std::uint32_t pay;         // index into Layout::disc
    // The realised part of a period that began before the reference date (its past fixings
    // compounded): the period pays growth × P(start) / P(end) - 1, the forward part read from
    // `start`, on or after the reference date. 1: nothing has fixed.
    double growth = 1.0;
};
// The fixings a seasoned floating period reads: the period pays Π (1 + rate(date_k) × accrual_k)
// times its forward part. An overnight period lists each business day before the split; a
// period on a term index, its one fixing with the period's accrual.
struct PastFixings {
    std::uint32_t period;  // index into Layout::floating
    std::vector<dates::Serial> dates;
    std::vector<double> accruals;
};
struct FixedPeriod {
    double accrual;
    std::uint32_t pay;  // index into Layout::disc
};
struct BondFlow {
    double amount;
    std::uint32_t pay;  // index into Layout::disc
};

struct Layout {
    Form form = Form::Simple;
    std::vector<dates::Serial> proj;  // distinct, ascending
    std::vector<dates::Serial> disc;  // distinct, ascending
    // Simple: proj = {start, end}, disc = {end}; the forward over the period plus `adjustment`.
    double accrual = 0.0;
    double adjustment = 0.0;
    // Swap: the floating periods (forward over [start, end], paid at pay) and the fixed ones.
    std::vector<FloatPeriod> floating;
    std::vector<FixedPeriod> fixed;
    // Swap laid out seasoned: the floating periods that have fixed, until apply_fixings fills
    // in their growth.
    std::vector<PastFixings> past;
    // Bond: the payments after settlement, the settlement date's index in disc, the accrued
    // interest there; `held`: valued as owned (no purchase price).
    std::vector<BondFlow> flows;
    std::vector<BondFlow> proj_flows;  // Linear: pay indexes Layout::proj
    std::uint32_t settle = 0;
    double accrued = 0.0;
    bool held = false;
    double quote = 0.0;  // the matched quote: a rate, or a bond's clean price
    const bonds::DatedBond* bond = nullptr;  // Bond form: the bond (for its yield)
};

// The spot date: the trade date adjusted to a business day, then `days` business days on.
[[nodiscard]] Result<dates::Serial> spot_date(const dates::Calendar& cal, dates::Serial reference, std::uint32_t days);

// The instrument at a reference date. Errors name the instrument.
[[nodiscard]] Result<Layout> lay_out(const Instrument& instrument, dates::Serial reference);

// A layout with what it was laid out from: the instrument (without its memo; a bond
// layout points into it) and the reference date.
struct LaidOut {
    dates::Serial reference = 0;
    Instrument instrument;
    Layout layout;
};
// lay_out, through the instrument's memo: the layout it keeps when the reference date and
// the instrument's terms are the ones it was laid out from, else a new one (then kept).
// The same layout either way.
[[nodiscard]] Result<std::shared_ptr<const Layout>> lay_out_kept(const Instrument& instrument,
                                                                 dates::Serial reference);
// An Ois or Swap that may have started before the reference date: payments on or before it
// have been made and drop out (a flow on the reference date counts as paid); a floating
// period whose fixing date is before it lists its fixings in `past`. An OIS's periods fix
// each business day on the swap's calendar and day count; a swap's floating period fixes
// the terms' settlement days before its start. Any other kind lays out as lay_out does.
[[nodiscard]] Result<Layout> lay_out_seasoned(const Instrument& instrument, dates::Serial reference);
// Fills the growth of each past period from `rate` (a fixing by date): its error is the
// error.
[[nodiscard]] Status apply_fixings(Layout& l, const std::function<Result<double>(dates::Serial)>& rate);

// A bond held: its payments after settlement (its own lag from the reference date).
[[nodiscard]] Result<Layout> lay_out_held(const bonds::DatedBond& bond, dates::Serial reference);

// Fixed amounts paid on dates, held: a Bond-form layout worth the sum of each amount times
// the discount factor of its date. Dates after the reference date, any order; amounts on
// one date add up.
struct Flow {
    dates::Serial date = 0;
    double amount = 0.0;
};
[[nodiscard]] Layout lay_out_flows(std::span<const Flow> flows);
// The Linear form: amounts on projection-curve dates and on discount-curve dates.
[[nodiscard]] Layout lay_out_linear(std::span<const Flow> on_projection, std::span<const Flow> on_discount);

// The latest date the instrument reads: on the projection curve only (a projection curve
// being built on a separate discount curve) or on both.
[[nodiscard]] dates::Serial last_date(const Layout& l, bool projection_only);

// The model's quote (par rate, a future's rate, a bond's clean price) and the value of the
// position long the quote (receiving the quoted rate on a notional of 1: a lender, a FRA
// sold (its buyer pays the rate) or a future bought at the quote, a receiver swap; a bond
// bought at the clean price, or held),
// from discount factors at proj and disc. With a gradient span non-empty, adds weight · the
// derivative in each discount factor to it.
[[nodiscard]] double model_quote(const Layout& l, std::span<const double> dp, std::span<const double> dd,
                                 double weight = 0.0, std::span<double> gp = {}, std::span<double> gd = {});
[[nodiscard]] double position_value(const Layout& l, std::span<const double> dp, std::span<const double> dd,
                                    double weight = 0.0, std::span<double> gp = {}, std::span<double> gd = {});

}  // namespace quelm::curves

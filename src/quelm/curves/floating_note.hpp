// A floating-rate note held: coupons of the index forward plus a spread over each period,
// on the note's day count, and its face at maturity. Its face is `notional`; values are in
// the face's units. A coupon whose fixing date is before the reference date pays its past
// fixing (read by name: `index`, else the projection curve's name).
#pragma once

#include <cstdint>
#include <string>

#include "quelm/core/error.hpp"
#include "quelm/curves/curve.hpp"
#include "quelm/curves/layout.hpp"

namespace quelm::curves {

struct FloatingRateNote {
    dates::Serial effective = 0, maturity = 0;  // unadjusted: the schedule rolls them
    double spread = 0.0;
    dates::Tenor index_tenor{3, dates::TenorUnit::Months};
    double notional = 100.0;
    dates::DayCount day_count{dates::DayCountKind::Act360, {}};
    dates::Calendar calendar;
    dates::Convention convention = dates::Convention::ModifiedFollowing;
    std::uint32_t fixing_days = 2;
    std::string curve, discount_curve, index;
    LayoutMemo memo;  // its layout for the last reference date (not part of its value)
    friend bool operator==(const FloatingRateNote&, const FloatingRateNote&) = default;
};

// Messages start "floating rate note: ".
[[nodiscard]] Status check(const FloatingRateNote& n);
// How it reads back in Python, options that differ from the defaults as keywords.
[[nodiscard]] std::string describe(const FloatingRateNote& n);
[[nodiscard]] std::uint64_t hash_of(const FloatingRateNote& n);

// Its coupons paid after the reference date (a flow on it counts as paid) and its face at
// maturity, per unit of face; the coupons that have fixed list their fixings in `past`.
[[nodiscard]] Result<Layout> lay_out_note(const FloatingRateNote& n, dates::Serial reference);
// lay_out_note through the note's memo: the layout it keeps for this date and these terms,
// else a new one (then kept). The same layout either way.
[[nodiscard]] Result<std::shared_ptr<const Layout>> lay_out_note_kept(const FloatingRateNote& n,
                                                                      dates::Serial reference);

// Its value on curves (times the notional), for a note with no coupon fixed before the
// reference date: one that has needs fixings (a book's). Errors name the note.
[[nodiscard]] Result<double> note_value(const FloatingRateNote& n, const YieldCurve& curve,
                                        const YieldCurve* discount);

}  // namespace quelm::curves

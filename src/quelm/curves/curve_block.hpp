// The array forms of a yield curve's queries: up to kCurveBlock times (years) or dates of
// one array call at once, at the SIMD width core/simd.hpp chose, each answer with the bits of
// the scalar call (YieldCurve::discount, zero_rate, forward_rate and their date twins).
// Queries outside the common case (a negative, zero or non-finite time where the scalar call
// answers specially or fails, a date the curve cannot time, a monotone convex curve) are left
// to the caller, which answers them one by one.
#pragma once

#include <cstddef>
#include <cstdint>

#include "quelm/curves/curve.hpp"

namespace quelm::curves {

inline constexpr std::size_t kCurveBlock = 256;

// Each sets done[i] for the queries it answered and writes query i's answer to out[i].
void discount_block(const YieldCurve& c, const double* t, std::size_t n, double* out, bool* done);
void zero_rate_block(const YieldCurve& c, const double* t, std::size_t n, double* out, bool* done);
void forward_rate_block(const YieldCurve& c, const double* t1, const double* t2, std::size_t n, double* out,
                        bool* done);

// The times of n dates given as days since 1970-01-01 (as YieldCurve::time_of): ok[i] is
// false where the scalar call would fail before its query (no reference date, a day outside
// the calendar, a date before the reference date, a day count that cannot count it).
void times_of_days(const YieldCurve& c, const std::int64_t* days, std::size_t n, double* t, bool* ok);

// The same queries at dates (YieldCurve::discount_on, zero_rate_on, forward_rate_between).
void discount_on_block(const YieldCurve& c, const std::int64_t* days, std::size_t n, double* out, bool* done);
void zero_rate_on_block(const YieldCurve& c, const std::int64_t* days, std::size_t n, double* out, bool* done);
void forward_rate_between_block(const YieldCurve& c, const std::int64_t* d1, const std::int64_t* d2, std::size_t n,
                                double* out, bool* done);

}  // namespace quelm::curves

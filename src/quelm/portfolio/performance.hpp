// Portfolio performance: the time-weighted return of valuations with external flows,
// and the money-weighted return (IRR, per year, actual/365) of dated cash flows.
#pragma once

#include <span>
#include <string>

#include "quelm/core/cancel.hpp"
#include "quelm/core/error.hpp"
#include "quelm/dates/serial.hpp"

namespace quelm::portfolio {

// Invested money is negative, received money positive.
struct CashFlow {
    dates::DayNumber day;  // days since 1970-01-01, of any year 0 ..= 2^31 - 1
    double amount;
};

// Net present value at an annual rate, discounting from the first flow's date
// (earlier flows get negative year fractions). Requires at least one flow.
[[nodiscard]] double npv(std::span<const CashFlow> flows, double rate);

// The lowest rate above -99.99 % (1 % scan up to about 1000 %) where the NPV changes sign,
// refined by Brent's method to 1e-12.
[[nodiscard]] Result<double> mwr(std::span<const CashFlow> flows, Cancel& cancel = never_cancel());
// The same from "YYYY-MM-DD" dates and aligned amounts (see dates::parse_iso_civil).
[[nodiscard]] Result<double> mwr(std::span<const std::string> dates, std::span<const double> amounts,
                                 Cancel& cancel = never_cancel());

// Chain-linked return of valuations V_0..V_n with flow F_i entering right after V_i.
[[nodiscard]] Result<double> twr(std::span<const double> values, std::span<const double> flows);

}  // namespace quelm::portfolio

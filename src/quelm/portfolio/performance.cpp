#include "quelm/portfolio/performance.hpp"

#include <cmath>

#include "quelm/core/math/solvers.hpp"

namespace quelm::portfolio {

double npv(std::span<const CashFlow> flows, double rate) {
    const std::int64_t t0 = flows.front().date.day_number();
    double sum = -0.0;
    for (const CashFlow& f : flows) {
        const double years = static_cast<double>(f.date.day_number() - t0) / 365.0;
        sum += f.amount / std::pow(1.0 + rate, years);
    }
    return sum;
}

Result<double> mwr(std::span<const CashFlow> flows) {
    if (flows.size() < 2) return invalid("mwr: need at least 2 cash flows");
    const auto no_irr = [] {
        return numerical("mwr: no internal rate of return found (cash flows may not change sign)");
    };
    // All-zero amounts make the NPV vanish at every rate: there is no rate to report.
    bool all_zero = true;
    for (const CashFlow& f : flows) all_zero = all_zero && f.amount == 0.0;
    if (all_zero) return no_irr();

    const auto f = [&](double r) { return npv(flows, r); };
    double lo = -0.9999;
    double f_lo = f(lo);
    while (lo < 10.0) {
        const double hi = lo + 0.01;
        const double f_hi = f(hi);
        if (f_lo == 0.0) return lo;
        if (f_lo * f_hi < 0.0) return brent(f, lo, hi, 1e-12, 200);
        lo = hi;
        f_lo = f_hi;
    }
    return no_irr();
}

Result<double> twr(std::span<const double> values, std::span<const double> flows) {
    if (values.size() < 2) return invalid("twr: need at least 2 valuations");
    if (flows.size() != values.size() - 1) return invalid("twr: flows length must be values length \u2212 1");
    double growth = 1.0;
    for (std::size_t i = 0; i + 1 < values.size(); ++i) {
        const double base = values[i] + flows[i];
        if (base == 0.0) return invalid("twr: zero sub-period base (value + flow)");
        growth = growth * (values[i + 1] / base);
    }
    return growth - 1.0;
}

}  // namespace quelm::portfolio

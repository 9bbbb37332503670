#include "quelm/bonds/bond.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "quelm/core/math/elementary.hpp"
#include "quelm/core/math/solvers.hpp"
#include "quelm/core/memory.hpp"
#include "quelm/core/sizes.hpp"
#include "quelm/core/text.hpp"

namespace quelm::bonds {

namespace {

Status check_frequency(std::uint32_t f) {
    if (f == 0) return invalid("bond: frequency must be >= 1");
    return {};
}

// Sum of term(c) over the flows, from 0.0 in order, polling between blocks of flows; a
// partial sum once stopped (the caller then drops it). Bonds may hold 10^8 flows.
template <class Term>
double polled_sum(std::span<const Cashflow> flows, CancelPoller& poller, Term&& term) {
    constexpr std::size_t kBlock = 4096;
    double sum = 0.0;
    for (std::size_t b = 0; b < flows.size(); b += kBlock) {
        const std::size_t e = std::min(flows.size(), b + kBlock);
        for (std::size_t i = b; i < e; ++i) sum += term(flows[i]);
        if (poller.tick(e - b)) break;
    }
    return sum;
}

// One pass over the flows; the caller has validated flows and frequency.
double price_at(std::span<const Cashflow> flows, double f, double base, CancelPoller& poller) {
    return polled_sum(flows, poller, [&](const Cashflow& c) { return c.amount * quelm::pow(base, -(f * c.time)); });
}

// The same price with the power taken as exp(−f·t·ln b): one logarithm per pass
// and an exponential per flow, about twice as fast as pow and within a few ulp of
// it. Used only inside the yield search, whose tolerance (1e-12 on a price) is
// far above that difference.
double price_by_exp(std::span<const Cashflow> flows, double f, double log_base, CancelPoller& poller) {
    return polled_sum(flows, poller,
                      [&](const Cashflow& c) { return c.amount * quelm::exp(-(f * c.time) * log_base); });
}

Result<double> discount_base(std::uint32_t f, double y) {
    const double base = 1.0 + y / static_cast<double>(f);
    if (base <= 0.0) return numerical("bond: yield below -frequency makes the discount base non-positive");
    return base;
}

bool same(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

}  // namespace

Status validate_cashflows(std::span<const Cashflow> flows) {
    if (flows.empty()) return invalid("bond: no cashflows");
    for (const Cashflow& c : flows) {
        if (!(std::isfinite(c.time) && c.time > 0.0 && std::isfinite(c.amount)))
            return invalid("bond: cashflow times must be finite and strictly positive, amounts finite");
    }
    for (std::size_t i = 0; i + 1 < flows.size(); ++i) {
        if (flows[i].time >= flows[i + 1].time) return invalid("bond: cashflow times must be strictly increasing");
    }
    return {};
}

Result<double> dirty_price_with_yield(std::span<const Cashflow> flows, std::uint32_t frequency, double y,
                                      Cancel& cancel) {
    QUELM_CHECK(validate_cashflows(flows));
    QUELM_CHECK(check_frequency(frequency));
    QUELM_TRY(base, discount_base(frequency, y));
    CancelPoller poller(cancel);
    const double price = price_at(flows, static_cast<double>(frequency), base, poller);
    if (poller.stopped()) return cancelled();
    return price;
}

namespace {

// The sum of term(flow, f, 1 + y / f) over the flows, per unit of dirty price; `what`
// names the measure in the error of a non-positive price.
template <class Term>
[[nodiscard]] Result<double> per_unit_price(std::span<const Cashflow> flows, std::uint32_t frequency, double y,
                                            Cancel& cancel, const char* what, Term term) {
    QUELM_TRY(p, dirty_price_with_yield(flows, frequency, y, cancel));
    if (p <= 0.0) return numerical(std::string("bond: non-positive price in ") + what);
    const double f = static_cast<double>(frequency);
    const double base = 1.0 + y / f;
    CancelPoller poller(cancel);
    const double sum = polled_sum(flows, poller, [&](const Cashflow& c) { return term(c, f, base); });
    if (poller.stopped()) return cancelled();
    return sum / p;
}

}  // namespace

Result<double> macaulay_duration(std::span<const Cashflow> flows, std::uint32_t frequency, double y,
                                 Cancel& cancel) {
    return per_unit_price(flows, frequency, y, cancel, "duration", [](const Cashflow& c, double f, double base) {
        return c.time * c.amount * quelm::pow(base, -(f * c.time));
    });
}

Result<double> convexity(std::span<const Cashflow> flows, std::uint32_t frequency, double y, Cancel& cancel) {
    return per_unit_price(flows, frequency, y, cancel, "convexity", [](const Cashflow& c, double f, double base) {
        return c.amount * c.time * (c.time + 1.0 / f) * quelm::pow(base, -(f * c.time) - 2.0);
    });
}

Result<double> yield_from_dirty(std::span<const Cashflow> flows, std::uint32_t frequency, double dirty_price,
                                Cancel& cancel) {
    QUELM_CHECK(validate_cashflows(flows));
    QUELM_CHECK(check_frequency(frequency));
    if (!(std::isfinite(dirty_price) && dirty_price > 0.0)) return invalid("bond: price must be positive");
    const double f = static_cast<double>(frequency);
    // Inside the bracket the base stays >= 0.1, but a pricing failure would count as NaN.
    // Once stopped every gap reads 0, which ends the search at once; the root is then dropped.
    CancelPoller poller(cancel);
    auto gap = [&](double y) {
        const double base = 1.0 + y / f;
        if (base <= 0.0) return std::numeric_limits<double>::quiet_NaN();
        const double price = price_by_exp(flows, f, quelm::log(base), poller);
        return poller.stopped() ? 0.0 : price - dirty_price;
    };
    const auto root = brent(gap, -0.9, 2.0, 1e-12, 200);
    if (poller.stopped()) return cancelled();
    return root;
}

Result<FixedRateBond> FixedRateBond::regular(double face, double coupon_rate, std::uint32_t frequency,
                                             std::uint32_t n_periods, Cancel& cancel) {
    QUELM_CHECK(check_frequency(frequency));
    if (n_periods == 0) return invalid("bond: need at least one period");
    if (!(std::isfinite(face) && face > 0.0) || !std::isfinite(coupon_rate))
        return invalid("bond: face must be positive and coupon rate finite");
    const double f = static_cast<double>(frequency);
    const double c = face * coupon_rate / f;
    QUELM_CHECK(check_fits_in_memory(static_cast<double>(n_periods) * sizeof(Cashflow), "the bond's cash flows"));
    std::vector<Cashflow> flows;
    flows.reserve(checked_count(n_periods, sizeof(Cashflow)));
    CancelPoller poller(cancel);
    for (std::uint32_t k = 1; k <= n_periods; ++k) {
        if (poller.tick()) return cancelled();
        flows.push_back({static_cast<double>(k) / f, k == n_periods ? face + c : c});
    }
    return from_cashflows(frequency, std::move(flows), face, coupon_rate, 0.0);
}

Result<FixedRateBond> FixedRateBond::from_cashflows(std::uint32_t frequency, std::span<const double> times,
                                                    std::span<const double> amounts, double face,
                                                    double coupon_rate, double accrued) {
    if (times.size() != amounts.size()) return bad_argument("times and amounts must have equal length");
    std::vector<Cashflow> flows(times.size());
    for (std::size_t i = 0; i < flows.size(); ++i) flows[i] = {times[i], amounts[i]};
    return from_cashflows(frequency, std::move(flows), face, coupon_rate, accrued);
}

Result<FixedRateBond> FixedRateBond::from_cashflows(std::uint32_t frequency, std::vector<Cashflow> flows, double face,
                                                    double coupon_rate, double accrued) {
    QUELM_CHECK(validate_cashflows(flows));
    QUELM_CHECK(check_frequency(frequency));
    if (!(std::isfinite(accrued) && accrued >= 0.0)) return invalid("bond: accrued must be finite and non-negative");
    FixedRateBond b;
    b.flows_ = std::move(flows);
    b.face_ = face;
    b.coupon_rate_ = coupon_rate;
    b.accrued_ = accrued;
    b.frequency_ = frequency;
    return b;
}

Result<double> FixedRateBond::dirty_price_from_yield(double y, Cancel& cancel) const {
    return dirty_price_with_yield(flows_, frequency_, y, cancel);
}

Result<double> FixedRateBond::clean_price_from_yield(double y, Cancel& cancel) const {
    QUELM_TRY(p, dirty_price_with_yield(flows_, frequency_, y, cancel));
    return p - accrued_;
}

Result<double> FixedRateBond::yield_to_maturity(double clean_price, Cancel& cancel) const {
    return yield_from_dirty(flows_, frequency_, clean_price + accrued_, cancel);
}

Result<double> FixedRateBond::macaulay_duration(double y, Cancel& cancel) const {
    return bonds::macaulay_duration(flows_, frequency_, y, cancel);
}

Result<double> FixedRateBond::modified_duration(double y, Cancel& cancel) const {
    QUELM_TRY(d, bonds::macaulay_duration(flows_, frequency_, y, cancel));
    return d / (1.0 + y / static_cast<double>(frequency_));
}

Result<double> FixedRateBond::convexity(double y, Cancel& cancel) const {
    return bonds::convexity(flows_, frequency_, y, cancel);
}

bool operator==(const FixedRateBond& a, const FixedRateBond& b) {
    if (a.frequency_ != b.frequency_ || !same(a.accrued_, b.accrued_) || !same(a.face_, b.face_) ||
        !same(a.coupon_rate_, b.coupon_rate_) || a.flows_.size() != b.flows_.size())
        return false;
    for (std::size_t i = 0; i < a.flows_.size(); ++i) {
        if (a.flows_[i].time != b.flows_[i].time || a.flows_[i].amount != b.flows_[i].amount) return false;
    }
    return true;
}

}  // namespace quelm::bonds

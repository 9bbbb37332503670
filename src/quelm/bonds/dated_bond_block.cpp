#include "quelm/bonds/dated_bond_block.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

#include "quelm/core/math/pow_lanes.hpp"
#include "quelm/core/simd.hpp"
#include "quelm/dates/serial.hpp"

namespace quelm::bonds {

namespace {

struct Job {
    const StreetFlows* flows;
    double f;
    const std::size_t* members;  // the elements settling on this date
    std::size_t count;
    const double* base;  // 1 + y/f per element
    double accrued;      // taken off each price (0 for the dirty price)
    double* out;
};

// street_price's sum (street_yield.cpp) for lanes of bases: Σ a·B^(−f·t) from 0 in flow
// order, the discount factors following each other by one multiplication when the flows
// are uniform, else one exponential each. The first power is 1 where pow's main path does
// not apply for a positive normal base (B = 1, or an exponent below 2^-65 in size).
template <class V>
V street_sum(const StreetFlows& flows, double f, V base) {
    V sum = lanes::splat<V>(0.0);
    const std::size_t n = flows.times.size();
    if (n == 0) return sum;
    if (flows.uniform) {
        const V v = 1.0 / base;
        const double e = -(f * flows.times[0]);
        V w = lanes::select(base == 1.0, lanes::splat<V>(1.0), pow_lanes(base, lanes::splat<V>(e)));
        if (!pow_exponent_on_main_path(e)) w = lanes::splat<V>(1.0);
        for (std::size_t i = 0; i < n; ++i) {
            sum = sum + flows.amounts[i] * w;
            w = w * v;
        }
        return sum;
    }
    const V log_base = log_lanes(base);
    for (std::size_t i = 0; i < n; ++i) sum = sum + flows.amounts[i] * exp_lanes(-(f * flows.times[i]) * log_base);
    return sum;
}

template <class V>
void street_lanes(const Job& job) {
    constexpr std::size_t w = static_cast<std::size_t>(lanes::size_v<V>);
    for (std::size_t j = 0; j < job.count; j += w) {
        double b[w];
        for (std::size_t k = 0; k < w; ++k) b[k] = j + k < job.count ? job.base[job.members[j + k]] : 1.05;
        double price[w];
        lanes::store(price, street_sum(*job.flows, job.f, lanes::load<V>(b)) - job.accrued);
        for (std::size_t k = 0; k < w && j + k < job.count; ++k) job.out[job.members[j + k]] = price[k];
    }
}

QUELM_SIMD_KERNEL(street_at_width, street_lanes)

// Elements each settling in a plain period of their own (StreetPeriod), priced without
// their flows: lane by lane, the street time to the first payment and the interest accrued
// from the period's figures, then the street sum from the element's first period (its first
// flow its own, the later ones the bond's).
struct LoneJob {
    std::span<const StreetPeriod> periods;
    double f;
    double rate;              // face × coupon rate
    const std::size_t* members;
    std::size_t count;
    const double* base;       // 1 + y/f per element
    const double* first;      // the element's first period, as a double
    const double* into;       // days from the period's accrual start to settlement
    const double* amount;     // its first flow
    const double* accrual;    // the days of its accrued interest (see lone_element)
    const double* sign;       // its accrued interest added (1), taken (-1) or none (0)
    double* out;
};

template <class V>
void lone_lanes(const LoneJob& job) {
    constexpr std::size_t w = static_cast<std::size_t>(lanes::size_v<V>);
    const std::size_t n_periods = job.periods.size();
    for (std::size_t j = 0; j < job.count; j += w) {
        double b[w], first[w], into[w], a[w], days[w], sign[w], whole[w], years[w], ref_days[w];
        std::size_t from = n_periods - 1, last_start = 0;
        for (std::size_t k = 0; k < w; ++k) {
            const bool in = j + k < job.count;
            const std::size_t i = in ? job.members[j + k] : 0;
            b[k] = in ? job.base[i] : 1.05;
            first[k] = in ? job.first[i] : static_cast<double>(n_periods - 1);
            into[k] = in ? job.into[i] : 0.0;
            a[k] = in ? job.amount[i] : 0.0;
            days[k] = in ? job.accrual[i] : 0.0;
            sign[k] = in ? job.sign[i] : 0.0;
            const auto p = static_cast<std::size_t>(first[k]);
            const StreetPeriod& sp = job.periods[p];
            whole[k] = sp.whole, years[k] = sp.years, ref_days[k] = sp.ref_days;
            from = std::min(from, p);
            last_start = std::max(last_start, p);
        }
        const V base = lanes::load<V>(b), start = lanes::load<V>(first), amount = lanes::load<V>(a);
        const V one = lanes::splat<V>(1.0), zero = lanes::splat<V>(0.0);
        const V period_years = lanes::load<V>(years), period_days = lanes::load<V>(ref_days);
        // DatedBond::fill_street_flows's first step and accrued_at's sum, as they compute them
        const V since = lanes::load<V>(into);
        const V step = lanes::select(since == 0.0, lanes::load<V>(whole),
                                     lanes::load<V>(whole) - period_years * since / period_days);
        const V exponent = -(job.f * step);
        const V interest = job.rate * (period_years * lanes::load<V>(days) / period_days);
        const V s = lanes::load<V>(sign);
        const V accrued = lanes::select(s > 0.0, zero + interest, lanes::select(s < 0.0, zero - interest, zero));
        // street_price's sum (street_yield.cpp), each lane from its own first period: a lane
        // not yet started adds 0 to its sum of 0 and multiplies its discount factor, the first
        // power, by 1, which leave both as they are.
        const V v = 1.0 / base;
        V discount = lanes::select(base == 1.0, one, pow_lanes(base, exponent));
        discount = lanes::select(pow_exponent_on_main_path(exponent), discount, one);
        V sum = zero;
        std::size_t i = from;
        for (; i <= last_start; ++i) {  // (a group's elements, in order of their first period, start close together)
            const double at = static_cast<double>(i);
            const auto started = start <= at;
            const V flow = lanes::select(start == at, amount, lanes::splat<V>(job.periods[i].amount));
            sum = sum + lanes::select(started, flow, zero) * discount;
            discount = discount * lanes::select(started, v, one);
        }
        for (; i < n_periods; ++i) {  // every lane started
            sum = sum + job.periods[i].amount * discount;
            discount = discount * v;
        }
        double price[w];
        lanes::store(price, sum - accrued);
        for (std::size_t k = 0; k < w && j + k < job.count; ++k) job.out[job.members[j + k]] = price[k];
    }
}

QUELM_SIMD_KERNEL_TWIN(lone_at_width, lone_lanes)

// An element settling on `day`, for lone_lanes, when it settles inside a plain period (and
// no later coupon is ex by then); false otherwise. The accrued interest's days: from the
// accrual start to settlement or the accrual end, whichever comes first; ex-coupon, from
// settlement to the accrual end (none past it); none for the dirty price or on the accrual
// start.
bool lone_element(const DatedBond& bond, std::int64_t day, bool clean, double& first, double& into, double& amount,
                  double& accrual, double& sign) {
    const DatedBondTerms& terms = bond.terms();
    if (day < terms.issue || day >= terms.maturity) return false;
    const auto s = static_cast<Serial>(day);
    const std::size_t k = bond.next_period(s);
    const auto periods = bond.periods();
    if (k == periods.size() || !bond.street_periods()[k].plain) return false;
    const CouponPeriod& p = periods[k];
    if (s < p.accrual_start) return false;
    if (k + 1 < periods.size() && periods[k + 1].ex_date && *periods[k + 1].ex_date <= s) return false;
    const bool ex = p.ex_date && *p.ex_date <= s;
    first = static_cast<double>(k);
    into = static_cast<double>(s - p.accrual_start);
    amount = ex ? 0.0 : p.coupon;
    if (k + 1 == periods.size()) amount += terms.face;
    accrual = ex ? static_cast<double>(std::max(s, p.accrual_end) - s)
                 : static_cast<double>(std::min(s, p.accrual_end) - p.accrual_start);
    sign = !clean || s == p.accrual_start ? 0.0 : ex ? -1.0 : 1.0;
    return true;
}

}  // namespace

void dated_price_block(const DatedBond& bond, const double* y, const std::int64_t* settle, std::size_t n, bool clean,
                       double* out, bool* done) {
    const auto frequency = bond.terms().frequency;
    const double f = static_cast<double>(frequency);
    double base[kDatedBlock];
    bool open[kDatedBlock];
    double first[kDatedBlock], into[kDatedBlock], amount[kDatedBlock], accrual[kDatedBlock], sign[kDatedBlock];
    std::size_t lone[kDatedBlock], n_lone = 0, n_open = 0;
    // A block settling on one day (a settlement date for all) builds that day's flows once
    // below, cheaper than each element's own figures.
    bool one_day = n > 1;
    for (std::size_t i = 1; i < n; ++i) one_day = one_day && settle[i] == settle[0];
    std::fill_n(done, n, false);  // here: a store through bool* may alias the bond read below
    for (std::size_t i = 0; i < n; ++i) {
        base[i] = 1.0 + y[i] / f;
        // A positive normal base; the first power then takes pow's main path or is 1.
        open[i] = std::isfinite(y[i]) && pow_base_on_main_path(base[i] == 1.0 ? 2.0 : base[i]) &&
                  settle[i] >= dates::kFirstSerial && settle[i] <= dates::kLastSerial;
        if (open[i] && !one_day &&
            lone_element(bond, settle[i], clean, first[i], into[i], amount[i], accrual[i], sign[i])) {
            lone[n_lone++] = i;
            open[i] = false;  // not grouped below
        }
        n_open += open[i] ? 1 : 0;
    }
    if (n_lone > 0) {
        // A lane group runs from its earliest first period: in order of their first period,
        // a group's elements start together (a counting sort, for all but the longest bonds).
        constexpr std::size_t kSorted = 1024;
        const std::size_t n_periods = bond.periods().size();
        if (n_lone > 1 && n_periods <= kSorted) {
            std::uint16_t at[kSorted + 1], period[kDatedBlock];
            std::fill_n(at, n_periods + 1, std::uint16_t{0});
            for (std::size_t k = 0; k < n_lone; ++k) {
                period[k] = static_cast<std::uint16_t>(first[lone[k]]);
                ++at[period[k] + 1u];
            }
            for (std::size_t p = 1; p <= n_periods; ++p) at[p] = static_cast<std::uint16_t>(at[p] + at[p - 1]);
            std::size_t sorted[kDatedBlock];
            for (std::size_t k = 0; k < n_lone; ++k) sorted[at[period[k]]++] = lone[k];
            std::copy_n(sorted, n_lone, lone);
        }
        const LoneJob job{bond.street_periods(), f, bond.terms().face * bond.terms().coupon_rate, lone, n_lone, base,
                          first, into, amount, accrual, sign, out};
        lone_at_width(job);
        for (std::size_t k = 0; k < n_lone; ++k) done[lone[k]] = true;
    }
    if (n_open == 0) return;
    // The open elements grouped by settlement day, each group's members in element order:
    // a table of days probed linearly (a quarter full at most), so a block of distinct days
    // costs one probe per element rather than a scan of the block each.
    constexpr std::size_t kSlots = 4 * kDatedBlock;
    static_assert((kSlots & (kSlots - 1)) == 0, "the probe wraps with a mask");
    std::uint16_t slot[kSlots] = {};  // 0: empty, else the group's number + 1
    std::int64_t group_day[kDatedBlock];
    std::size_t group_first[kDatedBlock], group_last[kDatedBlock], group_count[kDatedBlock], next[kDatedBlock];
    std::size_t groups = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (!open[i]) continue;
        const std::int64_t day = settle[i];
        std::size_t h = static_cast<std::size_t>((static_cast<std::uint64_t>(day) * 0x9E3779B97F4A7C15ull) >>
                                                 (64 - std::countr_zero(kSlots)));
        for (;; h = (h + 1) & (kSlots - 1)) {
            if (slot[h] == 0) {
                slot[h] = static_cast<std::uint16_t>(groups + 1);
                group_day[groups] = day;
                group_first[groups] = group_last[groups] = i;
                group_count[groups++] = 1;
                break;
            }
            const std::size_t g = slot[h] - 1u;
            if (group_day[g] == day) {
                next[group_last[g]] = i;
                group_last[g] = i;
                ++group_count[g];
                break;
            }
        }
    }
    for (std::size_t g = 0; g < groups; ++g) {
        const std::int64_t day = group_day[g];
        const std::size_t count = group_count[g];
        // One element alone gains nothing from lanes: the scalar call builds its flows in
        // its thread's buffer, without allocating.
        if (count < 2) continue;
        std::size_t members[kDatedBlock];
        for (std::size_t k = 0, i = group_first[g]; k < count; ++k, i = next[i]) members[k] = i;
        const auto d = static_cast<dates::Serial>(day);
        const Result<StreetFlows> flows = bond.street_flows(d);
        if (!flows) continue;
        double accrued = 0.0;
        if (clean) {
            const Result<double> a = bond.accrued_at(d);
            if (!a) continue;
            accrued = *a;
        }
        if (!flows->times.empty() && !(std::fabs(-(f * flows->times[0])) < 0x1p64)) continue;
        const Job job{&*flows, f, members, count, base, accrued, out};
        street_at_width(job);
        for (std::size_t k = 0; k < count; ++k) done[members[k]] = true;
    }
}

}  // namespace quelm::bonds

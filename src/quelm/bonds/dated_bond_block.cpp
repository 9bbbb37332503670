#include "quelm/bonds/dated_bond_block.hpp"

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

}  // namespace

void dated_price_block(const DatedBond& bond, const double* y, const std::int64_t* settle, std::size_t n, bool clean,
                       double* out, bool* done) {
    const auto frequency = bond.terms().frequency;
    const double f = static_cast<double>(frequency);
    double base[kDatedBlock];
    bool open[kDatedBlock];
    for (std::size_t i = 0; i < n; ++i) {
        done[i] = false;
        base[i] = 1.0 + y[i] / f;
        // A positive normal base; the first power then takes pow's main path or is 1.
        open[i] = std::isfinite(y[i]) && pow_base_on_main_path(base[i] == 1.0 ? 2.0 : base[i]) &&
                  settle[i] >= dates::kFirstSerial && settle[i] <= dates::kLastSerial;
    }
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

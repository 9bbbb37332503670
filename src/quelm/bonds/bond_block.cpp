#include "quelm/bonds/bond_block.hpp"

#include <cmath>
#include <span>

#include "quelm/core/math/pow_lanes.hpp"
#include "quelm/core/math/solvers.hpp"
#include "quelm/core/simd.hpp"

namespace quelm::bonds {

namespace {

// Flows priced in one go; beyond this the scalar call, which polls for Ctrl-C, prices.
constexpr std::size_t kMostFlows = 4096;

struct Job {
    const FixedRateBond* bond;
    const double* base;  // 1 + y/f per yield
    const bool* use;
    std::size_t n;
    double* out;
};

// As dirty_price_with_yield: Σ a·base^(−f·t) from 0 in flow order, then less the accrued.
template <class V>
void price_lanes(const Job& job) {
    constexpr std::size_t w = static_cast<std::size_t>(lanes::size_v<V>);
    const auto flows = job.bond->cashflows();
    const double f = static_cast<double>(job.bond->frequency());
    const double accrued = job.bond->accrued();
    double result[kBondBlock + w];
    for (std::size_t j = 0; j < job.n; j += w) {
        bool any = false;
        double b[w];
        for (std::size_t k = 0; k < w; ++k) {
            const std::size_t i = j + k;
            const bool u = i < job.n && job.use[i];
            any = any || u;
            b[k] = u ? job.base[i] : 1.05;
        }
        if (!any) continue;
        const V base = lanes::load<V>(b);
        const auto one = base == 1.0;  // pow(1, y) is 1
        V sum = lanes::splat<V>(0.0);
        for (const Cashflow& c : flows) {
            const V v = lanes::select(one, lanes::splat<V>(1.0), pow_lanes(base, lanes::splat<V>(-(f * c.time))));
            sum = sum + c.amount * v;
        }
        lanes::store(result + j, sum - accrued);
    }
    for (std::size_t i = 0; i < job.n; ++i)
        if (job.use[i]) job.out[i] = result[i];
}

QUELM_SIMD_KERNEL(price_at_width, price_lanes)

// price_by_exp (bond.cpp) for lanes of log bases: Σ a·exp(−(f·t)·ln base) from 0 in order.
template <class V>
V price_by_exp_lanes(std::span<const Cashflow> flows, double f, V log_base) {
    V sum = lanes::splat<V>(0.0);
    for (const Cashflow& c : flows) sum = sum + c.amount * exp_lanes(-(f * c.time) * log_base);
    return sum;
}

struct YieldJob {
    const FixedRateBond* bond;
    const double* dirty;
    const bool* use;
    std::size_t n;
    double* out;
    bool* done;
};

// Each lane runs one element's search; a lane whose search ended takes the next element.
template <class V>
void yield_lanes(const YieldJob& job) {
    constexpr std::size_t w = static_cast<std::size_t>(lanes::size_v<V>);
    const auto flows = job.bond->cashflows();
    const double f = static_cast<double>(job.bond->frequency());
    // The gaps at both ends differ only by each element's price: one pass each.
    const double at_low = price_by_exp_lanes(flows, f, quelm::log(1.0 + -0.9 / f));
    const double at_high = price_by_exp_lanes(flows, f, quelm::log(1.0 + 2.0 / f));
    // yield_from_dirty's search: brent() on [-0.9, 2], tolerance 1e-12, 200 steps.
    BrentSearch lane[w];
    std::size_t element[w];
    std::size_t next = 0, busy = 0;
    const auto fill = [&](std::size_t k) {
        element[k] = kBondBlock;
        while (next < job.n) {
            const std::size_t i = next++;
            if (!job.use[i]) continue;
            const double p = job.dirty[i];
            lane[k] = BrentSearch(-0.9, 2.0, 1e-12, 200);
            const BrentSearch::State state = lane[k].start(at_low - p, at_high - p);
            if (state == BrentSearch::Done) {
                job.out[i] = lane[k].root();
                job.done[i] = true;
            } else if (state == BrentSearch::Ask) {
                element[k] = i;
                ++busy;
                return;
            }
        }
    };
    for (std::size_t k = 0; k < w; ++k) fill(k);
    while (busy > 0) {
        double log_base[w];
        for (std::size_t k = 0; k < w; ++k)
            log_base[k] = element[k] == kBondBlock ? 0.0 : quelm::log(1.0 + lane[k].s() / f);
        double price[w];
        lanes::store(price, price_by_exp_lanes(flows, f, lanes::load<V>(log_base)));
        for (std::size_t k = 0; k < w; ++k) {
            const std::size_t i = element[k];
            if (i == kBondBlock) continue;
            const BrentSearch::State state = lane[k].take(price[k] - job.dirty[i]);
            if (state == BrentSearch::Ask) continue;
            if (state == BrentSearch::Done) {
                job.out[i] = lane[k].root();
                job.done[i] = true;
            }
            --busy;
            fill(k);
        }
    }
}

QUELM_SIMD_KERNEL(yield_at_width, yield_lanes)

}  // namespace

void clean_price_block(const FixedRateBond& bond, const double* y, std::size_t n, double* out, bool* done) {
    const auto flows = bond.cashflows();
    const double f = static_cast<double>(bond.frequency());
    bool lanes_price = flows.size() <= kMostFlows;
    for (const Cashflow& c : flows) lanes_price = lanes_price && pow_exponent_on_main_path(-(f * c.time));
    double base[kBondBlock];
    for (std::size_t i = 0; i < n; ++i) {
        base[i] = 1.0 + y[i] / f;
        done[i] = lanes_price && std::isfinite(y[i]) && (base[i] == 1.0 || pow_base_on_main_path(base[i]));
    }
    const Job job{&bond, base, done, n, out};
    price_at_width(job);
}

}  // namespace quelm::bonds

namespace quelm::bonds {

void yield_block(const FixedRateBond& bond, const double* p, std::size_t n, double* out, bool* done) {
    const auto flows = bond.cashflows();
    double dirty[kBondBlock];
    bool use[kBondBlock];
    for (std::size_t i = 0; i < n; ++i) {
        done[i] = false;
        dirty[i] = p[i] + bond.accrued();
        use[i] = flows.size() <= kMostFlows && std::isfinite(dirty[i]) && dirty[i] > 0.0;
    }
    const YieldJob job{&bond, dirty, use, n, out, done};
    yield_at_width(job);
}

}  // namespace quelm::bonds

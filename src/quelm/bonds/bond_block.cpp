#include "quelm/bonds/bond_block.hpp"

#include <cmath>

#include "quelm/core/math/pow_lanes.hpp"
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

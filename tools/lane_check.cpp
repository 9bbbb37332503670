// The lane kernels of the array forms against their scalar calls, with a digest of the
// scalar bits per kernel: built for another architecture (tools/arm64_check.sh) it shows
// that arm64 NEON lanes give the x86-64 bits. Prints one line per kernel.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>
#include "quelm/bonds/bond_block.hpp"
#include "quelm/core/simd.hpp"
#include "quelm/core/vanilla_block.hpp"
#include "quelm/curves/curve_block.hpp"
#include "quelm/pricing/barrier_block.hpp"
#include "quelm/pricing/black_scholes.hpp"
#include "quelm/pricing/lookback_block.hpp"
using namespace quelm;
struct Digest {
    std::uint64_t h = 1469598103934665603ULL;
    std::size_t bad = 0, lanes = 0;
    void add(double x) { std::uint64_t u; std::memcpy(&u, &x, 8); for (int i = 0; i < 8; ++i) { h ^= (u >> (8 * i)) & 0xff; h *= 1099511628211ULL; } }
    void check(double block, bool done, double scalar) {
        if (done) { ++lanes; if (std::memcmp(&block, &scalar, 8) != 0 && !(std::isnan(block) && std::isnan(scalar))) ++bad; }
        add(scalar);
    }
};
static double val(const Result<double>& r) { return r ? *r : -1e300; }
int main() {
    std::mt19937_64 g(11);
    std::uniform_real_distribution<double> u(0, 1);
    const int blocks = 3000;
    Digest dv, dc, db, dbar, dlb;
    // vanilla
    for (int b = 0; b < blocks; ++b) {
        VanillaBlock v; v.n = 16; double out[16]; bool done[16];
        for (int i = 0; i < 16; ++i) { v.spot[i] = 50 + 100 * u(g); v.strike[i] = 50 + 100 * u(g); v.rate[i] = 0.1 * u(g); v.vol[i] = 0.05 + u(g);
            v.expiry[i] = 0.01 + 3 * u(g); v.dividend_yield[i] = u(g) < 0.5 ? 0 : 0.05 * u(g); v.price[i] = 0; v.type[i] = u(g) < 0.5 ? OptionType::Call : OptionType::Put; }
        black_scholes_block(v, out, done);
        for (int i = 0; i < 16; ++i) { const Vanilla x = vanilla(v.spot[i], v.strike[i], v.rate[i], v.vol[i], v.expiry[i], v.type[i], v.dividend_yield[i]);
            dv.check(out[i], done[i], val(pricing::black_scholes(x.contract, x.market))); }
    }
    // curves
    std::vector<double> p = {0.25,0.5,0.75,1,1.5,2,2.5,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,22,24,26,28,30};
    std::vector<double> z(p.size());
    for (size_t i = 0; i < p.size(); ++i) z[i] = 0.02 + 0.016 * (1 - 1.0 / (1.0 + p[i] / 6));
    const curves::YieldCurve cs[] = {*curves::YieldCurve::from_zero_rates(p, z, Interp::NaturalCubic, curves::Extrapolation::FlatForward),
                                     *curves::YieldCurve::from_zero_rates(p, z, Interp::Linear),
                                     *curves::YieldCurve::from_zero_rates(p, z, Interp::LogLinear, curves::Extrapolation::FlatForward)};
    for (const auto& c : cs) for (int b = 0; b < blocks; ++b) {
        double t1[16], t2[16], out[16]; bool done[16];
        for (int i = 0; i < 16; ++i) { t1[i] = -0.5 + 40 * u(g); t2[i] = t1[i] + 2 * u(g); }
        curves::discount_block(c, t1, 16, out, done);
        for (int i = 0; i < 16; ++i) dc.check(out[i], done[i], val(c.discount(t1[i])));
        curves::zero_rate_block(c, t1, 16, out, done);
        for (int i = 0; i < 16; ++i) dc.check(out[i], done[i], val(c.zero_rate(t1[i])));
        curves::forward_rate_block(c, t1, t2, 16, out, done);
        for (int i = 0; i < 16; ++i) dc.check(out[i], done[i], val(c.forward_rate(t1[i], t2[i])));
    }
    // bonds
    const auto bond = *bonds::FixedRateBond::regular(100, 0.045, 2, 60);
    for (int b = 0; b < blocks / 4; ++b) {
        double y[16], out[16]; bool done[16];
        for (int i = 0; i < 16; ++i) y[i] = -0.05 + 0.3 * u(g);
        bonds::clean_price_block(bond, y, 16, out, done);
        for (int i = 0; i < 16; ++i) db.check(out[i], done[i], val(bond.clean_price_from_yield(y[i])));
    }
    // barrier and lookback
    for (int b = 0; b < blocks; ++b) {
        pricing::BarrierBlock x; pricing::LookbackBlock l; x.n = l.n = 16; double out[16], out2[16]; bool done[16], done2[16];
        for (int i = 0; i < 16; ++i) {
            x.spot[i] = l.spot[i] = 50 + 100 * u(g); x.strike[i] = l.strike[i] = 50 + 100 * u(g); x.rate[i] = l.rate[i] = 0.1 * u(g);
            x.vol[i] = l.vol[i] = 0.05 + 0.7 * u(g); x.expiry[i] = l.expiry[i] = 0.05 + 3 * u(g); x.dividend_yield[i] = l.dividend_yield[i] = u(g) < 0.5 ? 0 : 0.05 * u(g);
            x.level[i] = x.spot[i] * (0.6 + 0.8 * u(g)); x.type[i] = l.type[i] = u(g) < 0.5 ? OptionType::Call : OptionType::Put;
            x.kind[i] = static_cast<pricing::BarrierType>(int(u(g) * 4)); l.strike_type[i] = u(g) < 0.5 ? pricing::StrikeType::Fixed : pricing::StrikeType::Floating;
        }
        pricing::barrier_price_block(x, out, done);
        pricing::lookback_price_block(l, out2, done2);
        for (int i = 0; i < 16; ++i) {
            const Vanilla v = vanilla(x.spot[i], x.strike[i], x.rate[i], x.vol[i], x.expiry[i], x.type[i], x.dividend_yield[i]);
            dbar.check(out[i], done[i], val(pricing::barrier_price(v.contract, v.market, {.type = x.kind[i], .level = x.level[i]})));
            dlb.check(out2[i], done2[i], val(pricing::lookback_price(v.contract, v.market, l.strike_type[i])));
        }
    }
    std::printf("width %s\n", simd_name(simd_level()));
    const char* names[] = {"vanilla", "curves", "bonds", "barrier", "lookback"};
    const Digest* ds[] = {&dv, &dc, &db, &dbar, &dlb};
    for (int k = 0; k < 5; ++k) std::printf("%-9s digest %016llx  lanes %zu  differing %zu\n", names[k], (unsigned long long)ds[k]->h, ds[k]->lanes, ds[k]->bad);
}

#include "quelm/core/random.hpp"

#include <array>
#include <bit>
#include <cmath>
#include <numbers>
#include <utility>

#include "quelm/core/math/elementary.hpp"
#include "quelm/core/portable.hpp"
#include "quelm/core/sizes.hpp"
#include "quelm/core/ziggurat_tables.hpp"

namespace quelm {

namespace {

constexpr std::uint64_t kPcgMul = 6364136223846793005ULL;
constexpr std::uint64_t kPcgInc = 11634580027462260723ULL;
constexpr double kZigR = 3.654152885361008796;

}  // namespace

double Xoshiro256pp::open01() {
    const std::uint64_t bits = (next_u64() >> 12) | 0x3ff0000000000000ULL;
    return std::bit_cast<double>(bits) - (1.0 - 0x1.0p-53);
}

std::uint64_t mix64(std::uint64_t z) {
    z ^= z >> 30;
    z *= 0xbf58476d1ce4e5b9ULL;
    z ^= z >> 27;
    z *= 0x94d049bb133111ebULL;
    z ^= z >> 31;
    return z;
}

std::uint64_t derive_seed(std::uint64_t seed, std::uint64_t key) {
    return mix64((mix64(key + kGolden) ^ seed) + kGolden);
}

Xoshiro256pp seed_from_u64(std::uint64_t x) {
    std::uint64_t st = x;
    std::uint32_t w[8];
    bool all_zero = true;
    for (int k = 0; k < 8; ++k) {
        st = st * kPcgMul + kPcgInc;
        const auto xorshifted = static_cast<std::uint32_t>(((st >> 18) ^ st) >> 27);
        w[k] = std::rotr(xorshifted, static_cast<int>(st >> 59));
        if (w[k] != 0) all_zero = false;
    }
    if (all_zero) {
        return Xoshiro256pp(0xe220a8397b1dcdafULL, 0x6e789e6aa1b965f4ULL, 0x06c45d188009454fULL,
                        0xf88bb8a8724c81ecULL);
    }
    auto word = [&](int j) {
        return static_cast<std::uint64_t>(w[2 * j]) | (static_cast<std::uint64_t>(w[2 * j + 1]) << 32);
    };
    return Xoshiro256pp(word(0), word(1), word(2), word(3));
}

void keyed_first_normals(std::uint64_t seed, std::uint64_t first_key, std::span<double> z) {
    constexpr std::size_t kSide = 8;  // streams seeded together
    std::size_t done = 0;
    while (done < z.size()) {
        const std::size_t m = z.size() - done < kSide ? z.size() - done : kSide;
        std::uint64_t st[kSide], w[kSide][4];
        bool zero[kSide];
        for (std::size_t j = 0; j < kSide; ++j) st[j] = derive_seed(seed, first_key + done + j);
        // seed_from_u64's PCG32 expansion, stream j in lane j.
        for (std::size_t j = 0; j < kSide; ++j) zero[j] = true;
        for (int k = 0; k < 8; ++k) {
            for (std::size_t j = 0; j < kSide; ++j) {
                st[j] = st[j] * kPcgMul + kPcgInc;
                const auto xorshifted = static_cast<std::uint32_t>(((st[j] >> 18) ^ st[j]) >> 27);
                const std::uint32_t word = std::rotr(xorshifted, static_cast<int>(st[j] >> 59));
                if (word != 0) zero[j] = false;
                const std::uint64_t part = static_cast<std::uint64_t>(word) << (32 * (k & 1));
                w[j][k >> 1] = (k & 1) != 0 ? w[j][k >> 1] | part : part;
            }
        }
        for (std::size_t j = 0; j < m; ++j) {
            if (zero[j]) {
                Xoshiro256pp rng = seed_from_u64(derive_seed(seed, first_key + done + j));
                z[done + j] = standard_normal(rng);
                continue;
            }
            Xoshiro256pp rng(w[j][0], w[j][1], w[j][2], w[j][3]);
            // standard_normal's common case inline; any other draw restarts it on a copy.
            const Xoshiro256pp start = rng;
            const std::uint64_t u = rng.next_u64();
            const std::size_t i = static_cast<std::size_t>(u & 0xff);
            const double f = std::bit_cast<double>((u >> 12) | 0x4000000000000000ULL) - 3.0;
            const double x = f * kZigX[i];
            if (std::abs(x) < kZigX[i + 1]) {
                z[done + j] = x;
            } else {
                Xoshiro256pp again = start;
                z[done + j] = standard_normal(again);
            }
        }
        done += m;
    }
}

const double* zig_norm_x() { return kZigX; }
const double* zig_norm_f() { return kZigF; }

double standard_normal(Xoshiro256pp& rng) {
    for (;;) {
        const std::uint64_t u = rng.next_u64();
        const std::size_t i = static_cast<std::size_t>(u & 0xff);
        const double f = std::bit_cast<double>((u >> 12) | 0x4000000000000000ULL) - 3.0;
        const double x = f * kZigX[i];
        if (std::abs(x) < kZigX[i + 1]) return x;
        if (i == 0) {
            double xt, yt;
            do {
                xt = quelm::log(rng.open01()) / kZigR;
                yt = quelm::log(rng.open01());
            } while (xt * xt > -2.0 * yt);
            return f < 0.0 ? xt - kZigR : kZigR - xt;
        }
        const double w = rng.uniform01();
        if (kZigF[i + 1] + (kZigF[i] - kZigF[i + 1]) * w < quelm::exp(-x * x / 2.0)) return x;
    }
}

double log_gamma(double x) {
    static constexpr double kCoef[6] = {76.18009172947146,     -86.50532032941678,    24.01409824083091,
                                        -1.231739572450155,    0.001208650973866179, -5.395239384953e-06};
    const double t = x + 5.5;
    const double base = (x + 0.5) * quelm::log(t) - t;
    double a = 1.000000000190015;
    double d = x;
    for (double c : kCoef) {
        d = d + 1.0;
        a = a + c / d;
    }
    return base + quelm::log(2.5066282746310007 * a / x);
}

Poisson::Poisson(double mean)
    : lambda_(mean),
      e_(quelm::exp(-mean)),
      l_(quelm::log(mean)),
      s_(std::sqrt(2.0 * mean)),
      g_(mean * quelm::log(mean) - log_gamma(1.0 + mean)) {}

std::uint64_t Poisson::sample(Xoshiro256pp& rng) const {
    double result;
    if (lambda_ < 12.0) {
        double p = 1.0;
        double k = 0.0;
        while (p > e_) {
            p = p * rng.uniform01();
            k = k + 1.0;
        }
        result = k - 1.0;
    } else {
        double y, q;
        do {
            double c;
            do {
                const double a = std::numbers::pi * rng.uniform01();
                c = quelm::sin(a) / quelm::cos(a);
                y = s_ * c + lambda_;
            } while (!(y >= 0.0));
            y = std::floor(y);
            q = 0.9 * (1.0 + c * c) * quelm::exp(y * l_ - log_gamma(y + 1.0) - g_);
        } while (!(rng.uniform01() <= q));
        result = y;
    }
    return saturating_u64(result);
}

std::uint64_t uniform_index(Xoshiro256pp& rng, std::uint64_t n) {
    if (n < (std::uint64_t{1} << 32)) {
        const auto n32 = static_cast<std::uint32_t>(n);
        const std::uint32_t zone = (n32 << std::countl_zero(n32)) - 1u;
        for (;;) {
            const std::uint64_t m = static_cast<std::uint64_t>(rng.next_u32()) * n;
            if (static_cast<std::uint32_t>(m) <= zone) return m >> 32;
        }
    }
    const std::uint64_t zone = (n << std::countl_zero(n)) - 1u;
    for (;;) {
        const std::uint64_t x = rng.next_u64();
        if (x * n <= zone) return mul_high_u64(x, n);
    }
}

void shuffle(Xoshiro256pp& rng, std::span<std::size_t> list) {
    for (std::size_t i = list.size(); i-- > 1;) {
        const auto j = static_cast<std::size_t>(uniform_index(rng, static_cast<std::uint64_t>(i) + 1));
        std::swap(list[i], list[j]);
    }
}

}  // namespace quelm

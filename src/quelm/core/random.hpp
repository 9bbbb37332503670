// Deterministic random streams: the xoshiro256++ generator, its seeding, per-index seeds,
// and the samplers built on it (uniforms, ziggurat normals, Poisson counts, indices, shuffle).
// Every stream is a plain value owned by one work item; nothing here is global or locked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace quelm {

class SmallRng {
public:
    constexpr SmallRng(std::uint64_t s0, std::uint64_t s1, std::uint64_t s2, std::uint64_t s3)
        : s_{s0, s1, s2, s3} {}

    std::uint64_t next_u64() {
        const std::uint64_t result = rotl(s_[0] + s_[3], 23) + s_[0];
        const std::uint64_t t = s_[1] << 17;
        s_[2] ^= s_[0];
        s_[3] ^= s_[1];
        s_[1] ^= s_[2];
        s_[0] ^= s_[3];
        s_[2] ^= t;
        s_[3] = rotl(s_[3], 45);
        return result;
    }
    std::uint32_t next_u32() { return static_cast<std::uint32_t>(next_u64() >> 32); }
    // Exact multiple of 2^-53 in [0, 1).
    double uniform01() { return static_cast<double>(next_u64() >> 11) * 0x1.0p-53; }
    // In [2^-53, 1 - 2^-53]; never 0 or 1.
    double open01();

    [[nodiscard]] std::uint64_t state(std::size_t k) const { return s_[k]; }

private:
    static constexpr std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
    std::uint64_t s_[4];
};

// SplitMix64 finaliser.
[[nodiscard]] std::uint64_t mix64(std::uint64_t z);
// Seed of the stream keyed by `key` under the user seed.
[[nodiscard]] std::uint64_t derive_seed(std::uint64_t seed, std::uint64_t key);
// PCG32 expansion of one word into the 256-bit state.
[[nodiscard]] SmallRng seed_from_u64(std::uint64_t x);

// 256-layer ziggurat tables: 257 entries each (layers plus the end entry).
[[nodiscard]] const double* zig_norm_x();
[[nodiscard]] const double* zig_norm_f();

// One standard normal; one draw in the common case.
[[nodiscard]] double standard_normal(SmallRng& rng);

// Lanczos log-gamma (g = 5, six terms); for positive arguments.
[[nodiscard]] double log_gamma(double x);

// Poisson counts of a finite positive mean.
class Poisson {
public:
    explicit Poisson(double mean);
    [[nodiscard]] std::uint64_t sample(SmallRng& rng) const;

private:
    double lambda_, e_, l_, s_, g_;
};

// Unbiased integer in [0, n), n >= 1.
[[nodiscard]] std::uint64_t uniform_index(SmallRng& rng, std::uint64_t n);

// Fisher-Yates from the end; lists of length 0 or 1 consume no draws.
void shuffle(SmallRng& rng, std::span<std::size_t> list);

}  // namespace quelm

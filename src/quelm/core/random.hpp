// Deterministic random streams: the xoshiro256++ generator, its seeding, per-index seeds,
// and the samplers built on it (uniforms, ziggurat normals, Poisson counts, indices, shuffle).
// Every stream is a plain value owned by one work item; nothing here is global or locked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace quelm {

// xoshiro256++ (Blackman and Vigna): 256 bits of state, 64-bit outputs.
class Xoshiro256pp {
public:
    constexpr Xoshiro256pp(std::uint64_t s0, std::uint64_t s1, std::uint64_t s2, std::uint64_t s3)
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
// SplitMix64's increment (2^64 / golden ratio); every derivation below adds it.
inline constexpr std::uint64_t kGolden = 0x9e3779b97f4a7c15ULL;
// Seed of the stream keyed by `key` under the user seed.
[[nodiscard]] std::uint64_t derive_seed(std::uint64_t seed, std::uint64_t key);
// PCG32 expansion of one word into the 256-bit state.
[[nodiscard]] Xoshiro256pp seed_from_u64(std::uint64_t x);

// Every stream a computation draws from is derived here, so no two engines can pick the
// same key by accident and a key is never written inline.
//
// The stream of work item `key` (a path pair, a sample) under the user seed.
[[nodiscard]] inline Xoshiro256pp keyed_stream(std::uint64_t seed, std::uint64_t key) {
    return seed_from_u64(derive_seed(seed, key));
}
// A stream named by a 64-bit tag rather than an index.
[[nodiscard]] inline Xoshiro256pp tagged_stream(std::uint64_t seed, std::uint64_t tag) {
    return seed_from_u64(mix64((seed ^ tag) + kGolden));
}
// A user seed independent of `seed`, for a second set of keyed streams (out-of-sample paths).
[[nodiscard]] inline std::uint64_t independent_seed(std::uint64_t seed) { return mix64(seed + kGolden); }

// Tags of one network's initial weights and of its epoch shuffles.
inline constexpr std::uint64_t kInitTag = 0xE4D971771B652C20ULL;
inline constexpr std::uint64_t kShuffleTag = 0x7F4074B46DA03C6CULL;
// Keys of the network fitted at exercise date `date` of an American engine: its initial
// weights (shared by the engines), and its shuffles (one key family per engine).
[[nodiscard]] constexpr std::uint64_t date_init_key(std::uint64_t date) { return ~(date + 1); }
inline constexpr std::uint64_t kDeepLsmShuffleKey = 0xABCDULL;
inline constexpr std::uint64_t kStoppingShuffleKey = 0xD05ULL;
[[nodiscard]] constexpr std::uint64_t date_shuffle_key(std::uint64_t date, std::uint64_t engine_key) {
    return date ^ engine_key;
}

// Antithetic pairs that cover `paths` paths: ceil(paths / 2).
[[nodiscard]] constexpr std::uint64_t pair_count(std::uint64_t paths) { return paths / 2 + paths % 2; }

// 256-layer ziggurat tables: 257 entries each (layers plus the end entry).
[[nodiscard]] const double* zig_norm_x();
[[nodiscard]] const double* zig_norm_f();

// One standard normal; one draw in the common case.
[[nodiscard]] double standard_normal(Xoshiro256pp& rng);

// z[j] = standard_normal(keyed_stream(seed, first_key + j)) for each j: the first normal of
// consecutive keyed streams (one per antithetic pair), with the same bits. The streams are
// seeded side by side, so their chains of multiplies overlap in the processor where one
// stream at a time waits on each.
void keyed_first_normals(std::uint64_t seed, std::uint64_t first_key, std::span<double> z);

// Lanczos log-gamma (g = 5, six terms); for positive arguments.
[[nodiscard]] double log_gamma(double x);

// Poisson counts of a finite positive mean.
class Poisson {
public:
    explicit Poisson(double mean);
    [[nodiscard]] std::uint64_t sample(Xoshiro256pp& rng) const;

private:
    double lambda_, e_, l_, s_, g_;
};

// Unbiased integer in [0, n), n >= 1.
[[nodiscard]] std::uint64_t uniform_index(Xoshiro256pp& rng, std::uint64_t n);

// Fisher-Yates from the end; lists of length 0 or 1 consume no draws.
void shuffle(Xoshiro256pp& rng, std::span<std::size_t> list);

}  // namespace quelm

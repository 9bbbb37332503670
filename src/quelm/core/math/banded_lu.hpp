// LU factorisation with partial pivoting of a banded matrix (kl sub- and ku superdiagonals),
// as LAPACK's dgbtf2 keeps it: O(n kl (kl + ku)) to factor, O(n (kl + ku)) a solve, memory
// n (2 kl + ku + 1). For A x = b and Aᵀ x = b, each solved in place.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "quelm/core/error.hpp"

namespace quelm {

class BandedLu {
public:
    // An empty n × n band; set its entries with `at`, then factor.
    BandedLu(std::size_t n, std::size_t kl, std::size_t ku);

    // Entry (i, j), for i - kl <= j <= i + ku.
    [[nodiscard]] double& at(std::size_t i, std::size_t j) { return ab_[j * ld_ + ku_ + kl_ + i - j]; }

    // A pivot within rounding of zero (below n * eps * max |a_ij|) or a non-finite entry:
    // "lu: singular matrix".
    [[nodiscard]] Status factor();

    void solve(std::span<double> b) const;
    void solve_transposed(std::span<double> b) const;

    [[nodiscard]] std::size_t size() const { return n_; }
    // Doubles held for n, kl, ku.
    [[nodiscard]] static double storage(std::size_t n, std::size_t kl, std::size_t ku) {
        return static_cast<double>(n) * static_cast<double>(2 * kl + ku + 1);
    }

private:
    [[nodiscard]] double get(std::size_t i, std::size_t j) const { return ab_[j * ld_ + ku_ + kl_ + i - j]; }
    std::size_t n_, kl_, ku_, ld_;
    std::vector<double> ab_;          // column-major band, kl rows of room for the pivots' fill
    std::vector<std::size_t> piv_;    // row swapped with row j at step j
};

}  // namespace quelm

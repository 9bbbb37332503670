// Dense LU factorisation with partial pivoting of a small square matrix (row-major), kept
// for many right-hand sides: A x = b and Aᵀ x = b, each solved in place.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "quelm/core/error.hpp"

namespace quelm {

class LuFactors {
public:
    // Factors the n x n matrix `a` (row-major, consumed). A pivot within rounding of zero
    // relative to the matrix (below n * eps * max |a_ij|) or a non-finite entry is a
    // numerical error: "lu: singular matrix".
    [[nodiscard]] static Result<LuFactors> factor(std::vector<double> a, std::size_t n);

    // b <- A^-1 b.
    void solve(std::span<double> b) const;
    // b <- A^-T b.
    void solve_transposed(std::span<double> b) const;

    [[nodiscard]] std::size_t size() const { return n_; }

private:
    LuFactors() = default;
    std::size_t n_ = 0;
    std::vector<double> lu_;          // L (unit diagonal, below) and U (on and above) of P A
    std::vector<std::size_t> perm_;   // row i of P A is row perm_[i] of A
};

}  // namespace quelm

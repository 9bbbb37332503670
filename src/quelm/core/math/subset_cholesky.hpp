// The Cholesky factor L Lᵀ = S[F, F] of a principal submatrix of a fixed symmetric matrix S,
// kept current as indices leave and join the subset F: leaving is a row and column deleted
// and a rank-one update of the rows after it, joining a row appended, each O(|F|²) where a
// new factor costs O(|F|³). For active-set methods, whose working set changes one index a
// step. A pivot within rounding of zero (S[F, F] not positive definite to working precision)
// marks the factor unusable; the caller then solves some other way.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace quelm {

class SubsetCholesky {
public:
    // S is n x n, row-major, held by reference for the factor's lifetime.
    SubsetCholesky(std::span<const double> s, std::size_t n);

    // A new factor of S[F, F], F the indices in the given order. False when not positive definite.
    bool factor(std::span<const std::size_t> subset);
    // Takes another factor of the same S (the same storage, no allocation).
    void assign(const SubsetCholesky& other);

    // Removes index i (which must be in F).
    void remove(std::size_t i);
    // Adds index i (not in F) last; false, and the factor unusable, when the pivot is not positive.
    bool append(std::size_t i);

    [[nodiscard]] bool usable() const { return usable_; }
    // The indices of F in factor order.
    [[nodiscard]] std::span<const std::size_t> subset() const { return {order_.data(), order_.size()}; }
    // Solves S[F, F] x = b in place, b in factor order.
    void solve(std::span<double> b) const;
    // The same for `count` right-hand sides at once, b row-major |F| x count (its column j
    // the j-th): the columns' sums run side by side, where one column's wait on each other.
    void solve_many(std::span<double> b, std::size_t count) const;

private:
    double& at(std::size_t r, std::size_t c) { return l_[r * n_ + c]; }
    [[nodiscard]] double at(std::size_t r, std::size_t c) const { return l_[r * n_ + c]; }
    [[nodiscard]] bool pivot_ok(double d, std::size_t i) const;

    std::span<const double> s_;
    std::size_t n_;
    std::vector<double> l_;  // n x n, rows and columns 0 .. |F| - 1 in use
    std::vector<std::size_t> order_;
    std::vector<double> work_;
    bool usable_ = false;
};

}  // namespace quelm

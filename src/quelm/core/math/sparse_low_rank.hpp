// Solves with A = T + U V: T sparse (n × n), lower triangular or within a narrow band, U
// sparse (n × r) and V dense (r × n), r small beside n. T solves by substitution, or by a
// banded LU; through the capacitance matrix C = I + V T⁻¹ U (Sherman-Morrison-Woodbury) a
// solve costs O(nnz(T) + n b + r n) once factored (b: the band), and the factoring
// O(r n b + r² n + r³): near-linear where the coupling beyond the band has low rank, as in a
// curve whose quotes read few dates far from their own pillars. Each solve takes one step of
// iterative refinement against A itself, which keeps it as accurate as a dense LU solve.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "quelm/core/cancel.hpp"
#include "quelm/core/error.hpp"
#include "quelm/core/math/banded_lu.hpp"
#include "quelm/core/math/lu.hpp"

namespace quelm {

// Compressed sparse rows: row i holds col[start[i] .. start[i+1]) and their values.
struct SparseRows {
    std::vector<std::size_t> start{0};
    std::vector<std::uint32_t> col;
    std::vector<double> value;

    [[nodiscard]] std::size_t rows() const { return start.size() - 1; }
    void end_row() { start.push_back(col.size()); }
};

class SparseLowRank {
public:
    // t: n rows, columns ascending, each holding its diagonal; u: n rows of columns < r;
    // v: r × n row-major. A pivot within rounding of zero (below n * eps times
    // the largest entry of T) or a singular capacitance matrix: "lu: singular matrix";
    // a stopped factoring fails as cancelled. `what` names the working set in a memory error.
    [[nodiscard]] static Result<SparseLowRank> factor(SparseRows t, SparseRows u, std::vector<double> v,
                                                          std::size_t r, const char* what, Cancel& cancel);

    // b <- A^-1 b.
    void solve(std::span<double> b) const;
    // b <- A^-T b.
    void solve_transposed(std::span<double> b) const;

    [[nodiscard]] std::size_t size() const { return n_; }
    [[nodiscard]] std::size_t rank() const { return r_; }
    // T + U V as a dense row-major matrix (for a dense solve where this one cannot factor).
    [[nodiscard]] static std::vector<double> dense(const SparseRows& t, const SparseRows& u, std::span<const double> v,
                                                   std::size_t r);

private:
    SparseLowRank() = default;
    void solve_once(std::span<const double> b, std::span<double> x) const;
    void solve_transposed_once(std::span<const double> b, std::span<double> x) const;
    void apply(std::span<const double> x, std::span<double> out) const;             // out = A x
    void apply_transposed(std::span<const double> x, std::span<double> out) const;  // out = Aᵀ x

    std::size_t n_ = 0, r_ = 0;
    SparseRows t_, u_;
    std::vector<double> v_;        // r × n
    std::vector<double> z_;        // n × r: T⁻¹ U
    std::optional<LuFactors> c_;   // of I + V T⁻¹ U, when r > 0
    std::optional<BandedLu> band_; // T's factors, unless T is lower triangular
    void solve_t(std::span<double> x) const;             // x <- T⁻¹ x
    void solve_t_transposed(std::span<double> x) const;  // x <- T⁻ᵀ x
};

// A square matrix factored for solves: as T + U V where that factors, else by a dense LU.
class MatrixFactors {
public:
    // Falls back to the dense LU (memory permitting) when T has a pivot within rounding of zero
    // or the capacitance matrix is singular; errors as LuFactors::factor's then.
    [[nodiscard]] static Result<MatrixFactors> factor(const SparseRows& t, const SparseRows& u, std::vector<double> v,
                                                      std::size_t r, const char* what, Cancel& cancel);
    [[nodiscard]] static Result<MatrixFactors> factor_dense(std::vector<double> a, std::size_t n, const char* what);

    void solve(std::span<double> b) const;
    void solve_transposed(std::span<double> b) const;
    [[nodiscard]] std::size_t size() const;
    [[nodiscard]] bool is_dense() const { return dense_.has_value(); }

private:
    MatrixFactors() = default;
    std::optional<SparseLowRank> sparse_;
    std::optional<LuFactors> dense_;
};

}  // namespace quelm

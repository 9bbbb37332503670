// Sparse lower-triangular matrices (compressed rows), solved by substitution in O(nnz), and
// the factors of a square matrix for solves: sparse triangular where it is, else a dense LU.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "quelm/core/error.hpp"
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

// Builds SparseRows a row at a time: entries added in any order, a column added twice summed,
// each row written with its columns ascending. Width: the number of columns.
class SparseRowBuilder {
public:
    explicit SparseRowBuilder(std::size_t width) : acc_(width, 0.0), seen_(width, 0) {}

    void add(std::uint32_t j, double c) {
        touch(j);
        acc_[j] += c;
    }
    // The column present in the row even when nothing is added to it (a diagonal kept).
    void touch(std::uint32_t j) {
        if (!seen_[j]) {
            seen_[j] = 1;
            touched_.push_back(j);
        }
    }
    void end_row(SparseRows& rows) {
        std::sort(touched_.begin(), touched_.end());
        for (std::uint32_t j : touched_) {
            rows.col.push_back(j);
            rows.value.push_back(acc_[j]);
            acc_[j] = 0.0;
            seen_[j] = 0;
        }
        rows.end_row();
        touched_.clear();
    }

private:
    std::vector<double> acc_;
    std::vector<std::uint8_t> seen_;
    std::vector<std::uint32_t> touched_;
};

class MatrixFactors {
public:
    // t: n rows, columns ascending, each ending at its diagonal. A pivot within rounding of
    // zero (below n * eps * max |t_ij|) or a non-finite entry: "lu: singular matrix".
    [[nodiscard]] static Result<MatrixFactors> lower_triangular(SparseRows t);
    // The dense n x n matrix `a` (row-major, consumed), its size checked against memory first
    // (`what` names it in a memory error); errors as LuFactors::factor's.
    [[nodiscard]] static Result<MatrixFactors> dense(std::vector<double> a, std::size_t n, const char* what);

    // b <- A^-1 b.
    void solve(std::span<double> b) const;
    // b <- A^-T b.
    void solve_transposed(std::span<double> b) const;
    [[nodiscard]] std::size_t size() const { return n_; }

private:
    MatrixFactors() = default;
    std::size_t n_ = 0;
    SparseRows t_;
    std::optional<LuFactors> dense_;
};

}  // namespace quelm

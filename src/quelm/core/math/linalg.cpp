#include "quelm/core/math/linalg.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "quelm/core/sizes.hpp"

namespace quelm {

Result<std::vector<std::vector<double>>> gaussian_solve_many(std::vector<std::vector<double>> augmented,
                                                             std::size_t n, std::size_t columns, double pivot_floor,
                                                             Cancel& cancel) {
    auto& a = augmented;
    const std::size_t width = n + columns;
    // A caller handing a malformed matrix is a broken invariant, not bad user input;
    // refuse it rather than read out of bounds.
    if (a.size() < n) return numerical("linear solve: singular system (degenerate inputs)");
    for (std::size_t r = 0; r < n; ++r)
        if (a[r].size() < width) return numerical("linear solve: singular system (degenerate inputs)");

    CancelPoller poller(cancel);
    for (std::size_t c = 0; c < n; ++c) {
        if (poller.tick((n - c) * (n - c))) return cancelled();
        std::size_t pivot = c;
        double best = std::fabs(a[c][c]);
        for (std::size_t r = c + 1; r < n; ++r) {
            const double m = std::fabs(a[r][c]);
            if (m > best) {
                best = m;
                pivot = r;
            }
        }
        if (best < pivot_floor) return numerical("linear solve: singular system (degenerate inputs)");
        if (pivot != c) std::swap(a[pivot], a[c]);
        const double p = a[c][c];
        // Each right-hand column sees the operations a solve of it alone would: the pivots
        // and multipliers come from the matrix part only.
        for (std::size_t r = c + 1; r < n; ++r) {
            const double v = a[r][c];
            for (std::size_t k = c; k < width; ++k) a[r][k] = a[r][k] - (v / p) * a[c][k];
        }
    }
    std::vector<std::vector<double>> out(columns, std::vector<double>(n, 0.0));
    for (std::size_t j = 0; j < columns; ++j) {
        std::vector<double>& x = out[j];
        for (std::size_t w = n; w-- > 0;) {
            double e = a[w][n + j];
            for (std::size_t k = w + 1; k < n; ++k) e = e - a[w][k] * x[k];
            x[w] = e / a[w][w];
            if (!std::isfinite(x[w])) return numerical("linear solve: non-finite solution");
        }
    }
    return out;
}

bool gaussian_solve_flat(std::span<double> a, std::size_t n, std::span<double> x, double pivot_floor) {
    const std::size_t width = n + 1;
    if (a.size() < n * width || x.size() < n) return false;
    const auto at = [&](std::size_t r, std::size_t c) -> double& { return a[r * width + c]; };
    for (std::size_t c = 0; c < n; ++c) {
        std::size_t pivot = c;
        double best = std::fabs(at(c, c));
        for (std::size_t r = c + 1; r < n; ++r) {
            const double m = std::fabs(at(r, c));
            if (m > best) {
                best = m;
                pivot = r;
            }
        }
        if (best < pivot_floor) return false;
        if (pivot != c)
            std::swap_ranges(a.begin() + static_cast<std::ptrdiff_t>(pivot * width),
                             a.begin() + static_cast<std::ptrdiff_t>((pivot + 1) * width),
                             a.begin() + static_cast<std::ptrdiff_t>(c * width));
        const double p = at(c, c);
        for (std::size_t r = c + 1; r < n; ++r) {
            const double v = at(r, c);
            for (std::size_t k = c; k < width; ++k) at(r, k) = at(r, k) - (v / p) * at(c, k);
        }
    }
    for (std::size_t w = n; w-- > 0;) {
        double e = at(w, n);
        for (std::size_t k = w + 1; k < n; ++k) e = e - at(w, k) * x[k];
        x[w] = e / at(w, w);
        if (!std::isfinite(x[w])) return false;
    }
    return true;
}

Result<std::vector<double>> gaussian_solve(std::vector<std::vector<double>> augmented, std::size_t n,
                                           double pivot_floor, Cancel& cancel) {
    QUELM_TRY(x, gaussian_solve_many(std::move(augmented), n, 1, pivot_floor, cancel));
    return std::move(x[0]);
}

Result<std::vector<double>> solve_linear_system(std::span<const std::span<const double>> matrix,
                                                std::span<const double> rhs, Cancel& cancel) {
    const std::span<const double> one[] = {rhs};
    QUELM_TRY(x, solve_linear_systems(matrix, one, cancel));
    return std::move(x[0]);
}

Result<std::vector<std::vector<double>>> solve_linear_systems(std::span<const std::span<const double>> matrix,
                                                              std::span<const std::span<const double>> rhs,
                                                              Cancel& cancel) {
    const std::size_t n = matrix.size();
    if (n == 0) return invalid("solve_linear_system: empty matrix");
    for (const auto& row : matrix)
        if (row.size() != n) return invalid("solve_linear_system: matrix must be square");
    for (const auto& b : rhs)
        if (b.size() != n) return invalid("solve_linear_system: rhs length must match matrix order");
    double scale = 0.0;
    for (const auto& row : matrix)
        for (const double v : row) scale = std::max(scale, std::fabs(v));
    const double relative = static_cast<double>(n) * std::numeric_limits<double>::epsilon() * scale;
    const double floor = std::isfinite(relative) ? std::max(1e-300, relative) : 1e-300;
    std::vector<std::vector<double>> augmented(n);
    for (std::size_t i = 0; i < n; ++i) {
        augmented[i].reserve(checked_add(n, rhs.size()));
        augmented[i].assign(matrix[i].begin(), matrix[i].end());
        for (const auto& b : rhs) augmented[i].push_back(b[i]);
    }
    return gaussian_solve_many(std::move(augmented), n, rhs.size(), floor, cancel);
}

}  // namespace quelm

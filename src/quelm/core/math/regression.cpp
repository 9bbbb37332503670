#include "quelm/core/math/regression.hpp"

#include <utility>

#include "quelm/core/math/linalg.hpp"
#include "quelm/core/sizes.hpp"

namespace quelm {

Result<std::vector<double>> poly_least_squares(std::span<const double> xs, std::span<const double> ys,
                                               std::size_t degree) {
    if (xs.size() != ys.size()) return invalid("poly_least_squares: xs and ys must have equal length");
    const std::size_t m = xs.size();
    if (m == 0) return invalid("poly_least_squares: need at least one point");
    if (m <= degree) return invalid("poly_least_squares: fewer points than coefficients (underdetermined)");

    const std::size_t d = degree;  // d < m, so d + 1 and 2d + 1 fit
    std::vector<double> s(checked_add(checked_mul(2, d), 1), 0.0);
    std::vector<double> t(d + 1, 0.0);
    for (std::size_t i = 0; i < m; ++i) {
        const double x = xs[i];
        const double y = ys[i];
        double power = 1.0;
        for (std::size_t k = 0; k <= 2 * d; ++k) {
            s[k] += power;
            if (k <= d) t[k] += y * power;
            power = x * power;
        }
    }
    std::vector<std::vector<double>> augmented(d + 1);
    for (std::size_t r = 0; r <= d; ++r) {
        augmented[r].reserve(d + 2);
        for (std::size_t k = 0; k <= d; ++k) augmented[r].push_back(s[r + k]);
        augmented[r].push_back(t[r]);
    }
    return gaussian_solve(std::move(augmented), d + 1);
}

}  // namespace quelm

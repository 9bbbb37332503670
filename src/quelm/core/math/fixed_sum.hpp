// Sums on a fixed number of partial accumulators: term i goes into accumulator i mod 8, each
// accumulator adds its terms in index order from -0.0, and the eight are combined in one
// fixed tree, ((a0 + a1) + (a2 + a3)) + ((a4 + a5) + (a6 + a7)). The order is the same at
// any SIMD width, thread count and platform, so the sum has the same bits everywhere; the
// eight independent chains let the compiler keep them in vector registers and the
// processor run them side by side, where one running total waits on every addition.
#pragma once

#include <cstddef>

namespace quelm {

inline constexpr std::size_t kSumPartials = 8;

// Σ term(i) for i < n, in the order above; term(i) -> double.
template <class Term>
[[nodiscard]] inline double fixed_sum(std::size_t n, Term term) {
    double a[kSumPartials] = {-0.0, -0.0, -0.0, -0.0, -0.0, -0.0, -0.0, -0.0};
    std::size_t i = 0;
    for (; i + kSumPartials <= n; i += kSumPartials)
        for (std::size_t j = 0; j < kSumPartials; ++j) a[j] += term(i + j);
    for (std::size_t j = 0; i < n; ++i, ++j) a[j] += term(i);
    return ((a[0] + a[1]) + (a[2] + a[3])) + ((a[4] + a[5]) + (a[6] + a[7]));
}

// The same sum term by term, for loops that add several sums at once: the k-th value added
// goes into accumulator k mod 8, so a FixedSum fed term(0), term(1), ... has the bits of
// fixed_sum over those terms.
class FixedSum {
public:
    void add(double v) {
        a_[k_] += v;
        k_ = (k_ + 1) % kSumPartials;
    }
    [[nodiscard]] double total() const {
        return ((a_[0] + a_[1]) + (a_[2] + a_[3])) + ((a_[4] + a_[5]) + (a_[6] + a_[7]));
    }

private:
    double a_[kSumPartials] = {-0.0, -0.0, -0.0, -0.0, -0.0, -0.0, -0.0, -0.0};
    std::size_t k_ = 0;
};

}  // namespace quelm

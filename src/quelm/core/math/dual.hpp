// Forward-mode dual numbers with N partial derivatives, for small exact gradients of a
// formula written once as a template over its scalar type (double or Dual<N>). Only the
// four arithmetic operations: each result is the formula's value with the chain rule
// applied, operation by operation, in the same order.
#pragma once

#include <array>
#include <cstddef>

namespace quelm {

template <std::size_t N>
struct Dual {
    double v = 0.0;
    std::array<double, N> d{};

    constexpr Dual() = default;
    constexpr Dual(double value) : v(value) {}  // a constant: no derivatives
    // The k-th independent variable at `value`.
    static constexpr Dual variable(double value, std::size_t k) {
        Dual x(value);
        x.d[k] = 1.0;
        return x;
    }
};

template <std::size_t N>
constexpr Dual<N> operator+(const Dual<N>& a, const Dual<N>& b) {
    Dual<N> r(a.v + b.v);
    for (std::size_t k = 0; k < N; ++k) r.d[k] = a.d[k] + b.d[k];
    return r;
}
template <std::size_t N>
constexpr Dual<N> operator-(const Dual<N>& a, const Dual<N>& b) {
    Dual<N> r(a.v - b.v);
    for (std::size_t k = 0; k < N; ++k) r.d[k] = a.d[k] - b.d[k];
    return r;
}
template <std::size_t N>
constexpr Dual<N> operator-(const Dual<N>& a) {
    Dual<N> r(-a.v);
    for (std::size_t k = 0; k < N; ++k) r.d[k] = -a.d[k];
    return r;
}
template <std::size_t N>
constexpr Dual<N> operator*(const Dual<N>& a, const Dual<N>& b) {
    Dual<N> r(a.v * b.v);
    for (std::size_t k = 0; k < N; ++k) r.d[k] = a.d[k] * b.v + a.v * b.d[k];
    return r;
}
template <std::size_t N>
constexpr Dual<N> operator/(const Dual<N>& a, const Dual<N>& b) {
    const double q = a.v / b.v;
    Dual<N> r(q);
    for (std::size_t k = 0; k < N; ++k) r.d[k] = (a.d[k] - q * b.d[k]) / b.v;
    return r;
}
template <std::size_t N>
constexpr Dual<N> operator+(const Dual<N>& a, double b) { return a + Dual<N>(b); }
template <std::size_t N>
constexpr Dual<N> operator+(double a, const Dual<N>& b) { return Dual<N>(a) + b; }
template <std::size_t N>
constexpr Dual<N> operator-(const Dual<N>& a, double b) { return a - Dual<N>(b); }
template <std::size_t N>
constexpr Dual<N> operator-(double a, const Dual<N>& b) { return Dual<N>(a) - b; }
template <std::size_t N>
constexpr Dual<N> operator*(const Dual<N>& a, double b) { return a * Dual<N>(b); }
template <std::size_t N>
constexpr Dual<N> operator*(double a, const Dual<N>& b) { return Dual<N>(a) * b; }
template <std::size_t N>
constexpr Dual<N> operator/(const Dual<N>& a, double b) { return a / Dual<N>(b); }
template <std::size_t N>
constexpr Dual<N> operator/(double a, const Dual<N>& b) { return Dual<N>(a) / b; }

// The value of a double or of a dual number, for branches on data.
constexpr double value_of(double x) { return x; }
template <std::size_t N>
constexpr double value_of(const Dual<N>& x) { return x.v; }

}  // namespace quelm

// Scalar root finders. Stand-in for the shared toolkit version: same signature
// and behaviour, replaced when that lands.
#pragma once

#include "quelm/core/error.hpp"

#include <cmath>
#include <utility>

namespace quelm {

// A root of f in [a, b] by Brent's method; tol is both the function and the step tolerance.
template <class F>
[[nodiscard]] Result<double> brent(F&& f, double a, double b, double tol, unsigned max_iter) {
    constexpr double eps = 2.220446049250313e-16;
    double fa = f(a);
    double fb = f(b);
    if (std::fabs(fa) <= tol) return a;
    if (std::fabs(fb) <= tol) return b;
    if (fa * fb > 0) return numerical("brent: endpoints do not bracket a root");
    if (!(std::fabs(fb) <= std::fabs(fa))) {
        std::swap(a, b);
        std::swap(fa, fb);
    }
    double c = a, fc = fa, d = 0.0;
    bool mflag = true;
    for (unsigned it = 0; it < max_iter; ++it) {
        double s;
        if (std::fabs(fa - fc) > eps && std::fabs(fb - fc) > eps) {
            s = a * fb * fc / ((fa - fb) * (fa - fc)) + b * fa * fc / ((fb - fa) * (fb - fc)) +
                c * fa * fb / ((fc - fa) * (fc - fb));
        } else {
            s = b - fb * (b - a) / (fb - fa);
        }
        const bool bisect = (s - (3 * a + b) / 4) * (s - b) >= 0 ||
                            (mflag && std::fabs(b - c) < tol) ||
                            (mflag && std::fabs(s - b) >= std::fabs(b - c) / 2) ||
                            (!mflag && std::fabs(c - d) < tol) ||
                            (!mflag && std::fabs(s - b) >= std::fabs(c - d) / 2);
        if (bisect) {
            s = (a + b) / 2;
            mflag = true;
        } else {
            mflag = false;
        }
        const double fs = f(s);
        d = c;
        c = b;
        fc = fb;
        if (fa * fs < 0) {
            b = s;
            fb = fs;
        } else {
            a = s;
            fa = fs;
        }
        if (std::fabs(fa) < std::fabs(fb)) {
            std::swap(a, b);
            std::swap(fa, fb);
        }
        if (std::fabs(fb) <= tol || std::fabs(b - a) <= tol) return b;
    }
    return numerical("brent: did not converge");
}

}  // namespace quelm

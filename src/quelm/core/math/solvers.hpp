// Scalar root finders shared by the pricing, return and bond code: Brent's
// bracketing method and Newton's method. Errors are always of kind Numerical.
#pragma once

#include <cmath>
#include <utility>

#include "quelm/core/error.hpp"

namespace quelm {

// A root of f in [a, b]; one tolerance serves as both function and step tolerance.
template <class F>
[[nodiscard]] Result<double> brent(F&& f, double a, double b, double tol, unsigned max_iter) {
    constexpr double eps = 2.220446049250313e-16;
    double fa = f(a);
    double fb = f(b);
    if (std::fabs(fa) <= tol) return a;
    if (std::fabs(fb) <= tol) return b;
    if (fa * fb > 0.0) return numerical("brent: endpoints do not bracket a root");
    if (!(std::fabs(fb) <= std::fabs(fa))) {
        std::swap(a, b);
        std::swap(fa, fb);
    }
    double c = a;
    double fc = fa;
    bool mflag = true;
    double d = 0.0;  // only read once mflag has been cleared, which sets it first
    for (unsigned iter = 0; iter < max_iter; ++iter) {
        double s;
        if (std::fabs(fa - fc) > eps && std::fabs(fb - fc) > eps) {
            s = a * fb * fc / ((fa - fb) * (fa - fc)) + b * fa * fc / ((fb - fa) * (fb - fc)) +
                c * fa * fb / ((fc - fa) * (fc - fb));
        } else {
            s = b - fb * (b - a) / (fb - fa);
        }
        const bool bisect = (s - (3.0 * a + b) / 4.0) * (s - b) >= 0.0 ||
                            (mflag && std::fabs(b - c) < tol) ||
                            (mflag && std::fabs(s - b) >= std::fabs(b - c) / 2.0) ||
                            (!mflag && std::fabs(c - d) < tol) ||
                            (!mflag && std::fabs(s - b) >= std::fabs(c - d) / 2.0);
        if (bisect) {
            s = (a + b) / 2.0;
            mflag = true;
        } else {
            mflag = false;
        }
        const double fs = f(s);
        d = c;
        c = b;
        fc = fb;
        if (fa * fs < 0.0) {
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

// A root of f from x0 using the derivative df.
template <class F, class G>
[[nodiscard]] Result<double> newton(F&& f, G&& df, double x0, double tol, unsigned max_iter) {
    double x = x0;
    for (unsigned iter = 0; iter < max_iter; ++iter) {
        const double v = f(x);
        if (std::fabs(v) <= tol) return x;
        const double g = df(x);  // not needed once converged
        if (std::fabs(g) < 2.220446049250313e-16) return numerical("newton: derivative too small to continue");
        x = x - v / g;
        if (!std::isfinite(x)) return numerical("newton: iterate left the real line");
    }
    return numerical("newton: did not converge");
}

}  // namespace quelm

// Scalar root finders shared by the pricing, return and bond code: Brent's
// bracketing method and Newton's method. Errors are always of kind Numerical.
#pragma once

#include <cmath>
#include <utility>

#include "quelm/core/error.hpp"

namespace quelm {

// Brent's bracketing method as a machine that asks for one function value at a time, so
// that several searches can evaluate their functions together (array kernels); brent()
// below runs it on one function. start() takes f(a) and f(b), take() f(s); each returns
// Done (the root in root()), Failed (failure() says why) or Ask (evaluate f at s next).
class BrentSearch {
public:
    enum State { Ask, Done, Failed };

    BrentSearch() = default;
    BrentSearch(double a, double b, double tol, unsigned max_iter) : a_(a), b_(b), tol_(tol), max_iter_(max_iter) {}
    [[nodiscard]] double a() const { return a_; }
    [[nodiscard]] double b() const { return b_; }
    // The next point to evaluate (state Ask), the root (state Done).
    [[nodiscard]] double s() const { return s_; }
    [[nodiscard]] double root() const { return b_; }
    // f at the root (state Done).
    [[nodiscard]] double root_value() const { return fb_; }
    [[nodiscard]] Error failure() const {
        return {Kind::Numerical, bracketed_ ? "brent: did not converge" : "brent: endpoints do not bracket a root"};
    }

    State start(double fa, double fb) {
        fa_ = fa;
        fb_ = fb;
        if (std::fabs(fa_) <= tol_) return b_ = a_, fb_ = fa_, Done;
        if (std::fabs(fb_) <= tol_) return Done;
        if (fa_ * fb_ > 0.0) return Failed;
        bracketed_ = true;
        if (!(std::fabs(fb_) <= std::fabs(fa_))) {
            std::swap(a_, b_);
            std::swap(fa_, fb_);
        }
        c_ = a_;
        fc_ = fa_;
        mflag_ = true;
        d_ = 0.0;  // only read once mflag has been cleared, which sets it first
        iter_ = 0;
        return propose();
    }

    State take(double fs) {
        d_ = c_;
        c_ = b_;
        fc_ = fb_;
        if (fa_ * fs < 0.0) {
            b_ = s_;
            fb_ = fs;
        } else {
            a_ = s_;
            fa_ = fs;
        }
        if (std::fabs(fa_) < std::fabs(fb_)) {
            std::swap(a_, b_);
            std::swap(fa_, fb_);
        }
        if (std::fabs(fb_) <= tol_ || std::fabs(b_ - a_) <= tol_) return Done;
        ++iter_;
        return propose();
    }

private:
    State propose() {
        constexpr double eps = 2.220446049250313e-16;
        if (iter_ >= max_iter_) return Failed;
        const double a = a_, b = b_, c = c_, fa = fa_, fb = fb_, fc = fc_, tol = tol_;
        double s;
        if (std::fabs(fa - fc) > eps && std::fabs(fb - fc) > eps) {
            s = a * fb * fc / ((fa - fb) * (fa - fc)) + b * fa * fc / ((fb - fa) * (fb - fc)) +
                c * fa * fb / ((fc - fa) * (fc - fb));
        } else {
            s = b - fb * (b - a) / (fb - fa);
        }
        const bool bisect = (s - (3.0 * a + b) / 4.0) * (s - b) >= 0.0 ||
                            (mflag_ && std::fabs(b - c) < tol) ||
                            (mflag_ && std::fabs(s - b) >= std::fabs(b - c) / 2.0) ||
                            (!mflag_ && std::fabs(c - d_) < tol) ||
                            (!mflag_ && std::fabs(s - b) >= std::fabs(c - d_) / 2.0);
        if (bisect) {
            s = (a + b) / 2.0;
            mflag_ = true;
        } else {
            mflag_ = false;
        }
        s_ = s;
        return Ask;
    }

    double a_ = 0.0, b_ = 0.0, c_ = 0.0, d_ = 0.0, fa_ = 0.0, fb_ = 0.0, fc_ = 0.0, s_ = 0.0, tol_ = 0.0;
    unsigned max_iter_ = 0, iter_ = 0;
    bool mflag_ = true, bracketed_ = false;
};

// A root of f in [a, b]; one tolerance serves as both function and step tolerance.
template <class F>
[[nodiscard]] Result<double> brent(F&& f, double a, double b, double tol, unsigned max_iter) {
    BrentSearch search(a, b, tol, max_iter);
    const double fa = f(a);
    const double fb = f(b);
    BrentSearch::State state = search.start(fa, fb);
    while (state == BrentSearch::Ask) state = search.take(f(search.s()));
    if (state == BrentSearch::Failed) return std::unexpected(search.failure());
    return search.root();
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

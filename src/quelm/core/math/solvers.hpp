// Root finders shared by the pricing, return, bond and curve code: Brent's bracketing
// method, Newton's method, and Newton damped by step halving on one unknown or on many.
// Errors are always of kind Numerical; the damped forms report a SolveStatus instead.
#pragma once

#include <cmath>
#include <span>
#include <utility>
#include <vector>

#include "quelm/core/error.hpp"
#include "quelm/core/math/solve_status.hpp"

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

// A damped Newton stops once the residual is within `tol`, or after `max_iterations` steps.
// Each step is halved, up to `max_halvings` times, until it lowers the residual; a step that
// moves the unknowns by at most `step_tol` (relative to them, or to 1) ends the solve too.
struct NewtonSettings {
    double tol;
    unsigned max_iterations;
    unsigned max_halvings;
    double step_tol = 1e-16;
};

// How a damped Newton ended: the steps it took and the residual it reached (the scalar
// form: r at the root, signed; the system form: the merit at the last point).
struct NewtonEnd {
    SolveStatus status;
    unsigned iterations;
    double residual;
};

// Damped Newton on one unknown from x (on return, the last point accepted). f(x, slope)
// returns r(x) and sets slope to r'(x) at once; where r is not finite x is outside its
// domain, and a step that lands there is halved. f is last called at the returned x, so
// whatever f keeps of its point (a curve being built) is that point's.
template <class F>
[[nodiscard]] NewtonEnd damped_newton(F&& f, double& x, const NewtonSettings& s) {
    double slope = 0.0;
    double r = f(x, slope);
    if (!std::isfinite(r)) return {SolveStatus::NonFinite, 0, r};
    unsigned it = 0;
    for (; it < s.max_iterations && std::fabs(r) > s.tol; ++it) {
        if (!std::isfinite(slope)) return {SolveStatus::NonFinite, it, r};
        if (slope == 0.0) return {SolveStatus::Singular, it, r};
        double step = -r / slope;
        double x_new = x, r_new = r, s_new = slope;
        bool accepted = false;
        for (unsigned half = 0; half < s.max_halvings; ++half) {
            x_new = x + step;
            r_new = f(x_new, s_new);
            if (std::isfinite(r_new) && std::fabs(r_new) < std::fabs(r)) {
                accepted = true;
                break;
            }
            step *= 0.5;
        }
        if (!accepted) {
            r = f(x, slope);  // back to the best point
            return {SolveStatus::Stalled, it, r};
        }
        x = x_new;
        r = r_new;
        slope = s_new;
        if (std::fabs(step) <= s.step_tol * std::fmax(1.0, std::fabs(x)))
            return {std::fabs(r) <= s.tol ? SolveStatus::Converged : SolveStatus::Stalled, it + 1, r};
    }
    return {std::fabs(r) <= s.tol ? SolveStatus::Converged : SolveStatus::MaxIterations, it, r};
}

// Damped Newton on the unknowns u (on return, the last point accepted). merit(u,
// derivatives) evaluates the residuals at u and returns their size, infinity where one is
// not finite; with derivatives, u becomes the point the next step is taken from, and
// step(dx) then writes the Newton step there into dx, or returns false where the Jacobian
// gives none. Each returns a Result: an error stops the solve and is returned as it is.
// interrupted() is polled before each step and each evaluation after the first (Ctrl-C).
template <class Merit, class Step, class Interrupted>
[[nodiscard]] Result<NewtonEnd> damped_newton_system(Merit&& merit, Step&& step, Interrupted&& interrupted,
                                                     std::vector<double>& u, const NewtonSettings& s) {
    const std::size_t n = u.size();
    std::vector<double> dx(n), u_try(n);
    QUELM_TRY(first, merit(std::span<const double>(u), true));
    double worst = first;
    unsigned it = 0;
    for (; it < s.max_iterations && worst > s.tol; ++it) {
        if (interrupted()) return cancelled();
        if (!std::isfinite(worst)) return NewtonEnd{SolveStatus::NonFinite, it, worst};
        QUELM_TRY(has_step, step(std::span<double>(dx)));
        if (!has_step) return NewtonEnd{SolveStatus::Singular, it, worst};
        double alpha = 1.0, worst_try = INFINITY;
        for (unsigned half = 0; half < s.max_halvings; ++half, alpha *= 0.5) {
            if (interrupted()) return cancelled();
            for (std::size_t k = 0; k < n; ++k) u_try[k] = u[k] + alpha * dx[k];
            QUELM_TRY(tried, merit(std::span<const double>(u_try), false));
            worst_try = tried;
            if (worst_try < worst) break;
        }
        if (!(worst_try < worst)) return NewtonEnd{SolveStatus::Stalled, it, worst};
        double biggest = 0.0, size = 1.0;
        for (std::size_t k = 0; k < n; ++k) {
            biggest = std::fmax(biggest, std::fabs(alpha * dx[k]));
            size = std::fmax(size, std::fabs(u_try[k]));
        }
        u = u_try;
        if (interrupted()) return cancelled();
        QUELM_TRY(at_new, merit(std::span<const double>(u), true));
        worst = at_new;
        if (biggest <= s.step_tol * size)
            return NewtonEnd{worst <= s.tol ? SolveStatus::Converged : SolveStatus::Stalled, it + 1, worst};
    }
    return NewtonEnd{worst <= s.tol ? SolveStatus::Converged : SolveStatus::MaxIterations, it, worst};
}

}  // namespace quelm

#include "quelm/stochastic/process.hpp"

#include <cmath>
#include <string>

#include "quelm/core/math/elementary.hpp"

namespace quelm::stochastic {

namespace {

bool finite(double x) { return std::isfinite(x); }
bool non_negative(double x) { return std::isfinite(x) && x >= 0.0; }
bool positive(double x) { return std::isfinite(x) && x > 0.0; }

Status require(bool ok, const char* name, const char* tail) {
    if (ok) return {};
    return invalid(std::string(name) + tail);
}

constexpr const char* kFinite = " must be finite";
constexpr const char* kNonNeg = " must be >= 0";
constexpr const char* kPos = " must be > 0";

Status check_mean_reverting(double kappa, double theta, double sigma, bool cir) {
    QUELM_CHECK(require(positive(kappa), "kappa", kPos));
    if (cir) {
        QUELM_CHECK(require(non_negative(theta), "theta", kNonNeg));
    } else {
        QUELM_CHECK(require(finite(theta), "theta", kFinite));
    }
    return require(non_negative(sigma), "sigma", kNonNeg);
}

struct Validator {
    Status operator()(const Gbm& p) const {
        QUELM_CHECK(require(finite(p.mu), "mu", kFinite));
        return require(non_negative(p.sigma), "sigma", kNonNeg);
    }
    Status operator()(const OrnsteinUhlenbeck& p) const { return check_mean_reverting(p.kappa, p.theta, p.sigma, false); }
    Status operator()(const Vasicek& p) const { return check_mean_reverting(p.kappa, p.theta, p.sigma, false); }
    Status operator()(const Cir& p) const { return check_mean_reverting(p.kappa, p.theta, p.sigma, true); }
    Status operator()(const MertonJump& p) const {
        QUELM_CHECK(require(finite(p.mu), "mu", kFinite));
        QUELM_CHECK(require(non_negative(p.sigma), "sigma", kNonNeg));
        QUELM_CHECK(require(non_negative(p.lambda), "lambda", kNonNeg));
        QUELM_CHECK(require(finite(p.jump_mean), "jump_mean", kFinite));
        return require(non_negative(p.jump_std), "jump_std", kNonNeg);
    }
    Status operator()(const Heston& p) const {
        QUELM_CHECK(require(finite(p.mu), "mu", kFinite));
        QUELM_CHECK(require(non_negative(p.v0), "v0", kNonNeg));
        QUELM_CHECK(require(positive(p.kappa), "kappa", kPos));
        QUELM_CHECK(require(non_negative(p.theta), "theta", kNonNeg));
        QUELM_CHECK(require(non_negative(p.xi), "xi", kNonNeg));
        if (!(p.rho >= -1.0 && p.rho <= 1.0)) return invalid("rho must be in [-1, 1]");
        return {};
    }
};

Moments gaussian_reverting(double kappa, double theta, double sigma, double x0, double t) {
    const double a = quelm::exp(-kappa * t);
    const double m = (1.0 - a) * theta + x0 * a;
    const double v = sigma * sigma / (2.0 * kappa) * (1.0 - quelm::exp(-2.0 * kappa * t));
    return {m, v};
}

struct MomentsOf {
    double x0, t;
    Moments operator()(const Gbm& p) const {
        const double m = quelm::exp(t * p.mu) * x0;
        const double v = quelm::exp(2.0 * p.mu * t) * (x0 * x0) * (quelm::exp(p.sigma * p.sigma * t) - 1.0);
        return {m, v};
    }
    Moments operator()(const OrnsteinUhlenbeck& p) const { return gaussian_reverting(p.kappa, p.theta, p.sigma, x0, t); }
    Moments operator()(const Vasicek& p) const { return gaussian_reverting(p.kappa, p.theta, p.sigma, x0, t); }
    Moments operator()(const Cir& p) const {
        const double a = quelm::exp(-p.kappa * t);
        const double m = (x0 - p.theta) * a + p.theta;
        const double s2 = p.sigma * p.sigma;
        const double v = (1.0 - a) * (1.0 - a) * (s2 / (2.0 * p.kappa) * p.theta) + (a - a * a) * (s2 / p.kappa * x0);
        return {m, v};
    }
    Moments operator()(const MertonJump& p) const {
        const double js2 = p.jump_std * p.jump_std;
        const double k1 = quelm::exp(0.5 * js2 + p.jump_mean);
        const double k2 = quelm::exp(2.0 * js2 + 2.0 * p.jump_mean);
        const double lt = p.lambda * t;
        const double m = quelm::exp((k1 - 1.0) * lt) * quelm::exp(t * p.mu) * x0;
        const double s2 = quelm::exp((k2 - 1.0) * lt) * (x0 * x0) * quelm::exp(p.sigma * p.sigma * t + 2.0 * p.mu * t);
        return {m, s2 - m * m};
    }
    Moments operator()(const Heston& p) const { return {quelm::exp(t * p.mu) * x0, std::nullopt}; }
};

}  // namespace

Process make_process(ProcessKind kind, const ProcessParams& p) {
    switch (kind) {
        case ProcessKind::Gbm: return Gbm{p.mu, p.sigma};
        case ProcessKind::OrnsteinUhlenbeck: return OrnsteinUhlenbeck{p.kappa, p.theta, p.sigma};
        case ProcessKind::Vasicek: return Vasicek{p.kappa, p.theta, p.sigma};
        case ProcessKind::Cir: return Cir{p.kappa, p.theta, p.sigma};
        case ProcessKind::MertonJump: return MertonJump{p.mu, p.sigma, p.lambda, p.jump_mean, p.jump_std};
        case ProcessKind::Heston: break;
    }
    return Heston{p.mu, p.v0, p.kappa, p.theta, p.xi, p.rho};
}

const char* canonical_name(const Process& process) {
    static constexpr const char* kNames[] = {"gbm", "ornstein-uhlenbeck", "vasicek", "cir", "merton-jump", "heston"};
    return kNames[process.index()];
}

Status validate(const Process& process) { return std::visit(Validator{}, process); }

Moments analytic_moments(const Process& process, double x0, double t) {
    return std::visit(MomentsOf{x0, t}, process);
}

}  // namespace quelm::stochastic

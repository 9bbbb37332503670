#include "quelm/core/math/distributions.hpp"

#include "quelm/core/math/elementary.hpp"
#include "quelm/core/math/solvers.hpp"

namespace quelm {

double log_normal_cdf(double x) {
    // Written so that it keeps going where Phi itself underflows (x < -37): below -7.07
    // it is the continued-fraction tail of normal_cdf in log form.
    const double a = -x;
    if (a < detail::kCdfRational) return quelm::log(normal_cdf(x));
    double b = a + 0.65;
    b = a + 4.0 / b;
    b = a + 3.0 / b;
    b = a + 2.0 / b;
    b = a + 1.0 / b;
    return -a * a / 2.0 - quelm::log(b) - quelm::log(2.5066282746310007);
}

double power_times_cdf(double base, double exponent, double x) {
    const double p = quelm::pow(base, exponent);
    const double c = normal_cdf(x);
    if (plain_power_product(p, c)) return p * c;
    return power_cdf_in_logs(exponent * quelm::log(base), x);
}

namespace {

// Below this tail probability an absolute tolerance on Phi(x) - p no longer
// pins x down, so the tail is solved on log Phi instead (relative accuracy in p).
constexpr double kTail = 1e-8;

// Lower-tail quantile for tiny p: root of ln Phi(x) - ln p, so the tolerance
// is relative to p. [-40, -5] brackets every positive double below kTail.
Result<double> lower_tail_quantile(double p) {
    const double lp = quelm::log(p);
    return brent([lp](double x) { return log_normal_cdf(x) - lp; }, -40.0, -5.0, 1e-14, 200);
}

}  // namespace

Result<double> normal_quantile(double p) {
    if (!(p > 0.0 && p < 1.0)) return invalid("normal_quantile: p must be in (0, 1)");
    if (p < kTail) return lower_tail_quantile(p);
    if (1.0 - p < kTail) {
        // Mirror: Phi(-x) = 1 - p, and 1 - p is exact here (p close to 1).
        QUELM_TRY(x, lower_tail_quantile(1.0 - p));
        return -x;
    }
    return brent([p](double x) { return normal_cdf(x) - p; }, -40.0, 40.0, 1e-14, 200);
}

}  // namespace quelm

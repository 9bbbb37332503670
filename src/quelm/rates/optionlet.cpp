#include "quelm/rates/optionlet.hpp"

#include <cmath>
#include <string>

#include "quelm/core/math/distributions.hpp"
#include "quelm/core/math/elementary.hpp"
#include "quelm/core/text.hpp"
#include "quelm/pricing/black/bachelier.hpp"
#include "quelm/pricing/black/black.hpp"
#include "quelm/pricing/black/black_implied.hpp"

namespace quelm::rates {

namespace {

double shift_of(const Quoting& q) { return q.model == VolModel::ShiftedBlack ? q.shift : 0.0; }

// The normal density at x.
double density(double x) { return 0.3989422804014327 * quelm::exp(-0.5 * x * x); }

}  // namespace

std::string_view model_name(VolModel m) { return kVolModels.aliases[static_cast<std::size_t>(m)].name; }

Status check_quoting(const Quoting& q) {
    if (!std::isfinite(q.shift)) return invalid("shift must be finite, got " + short_number(q.shift));
    if (q.shift != 0.0 && q.model != VolModel::ShiftedBlack)
        return invalid("shift applies to model \"shifted-black\" only, got model \"" +
                       std::string(model_name(q.model)) + "\" with shift " + short_number(q.shift));
    return {};
}

Result<double> optionlet(const Quoting& q, double forward, double strike, double vol, double t, double theta,
                         std::string_view what) {
    if (!(vol >= 0.0) || !std::isfinite(vol)) return invalid("vol must be finite and >= 0, got " + short_number(vol));
    const double s = vol * std::sqrt(t);
    if (q.model == VolModel::Bachelier) return bachelier_undiscounted(forward, strike, s, theta);
    const double sh = shift_of(q);
    const double f = forward + sh, k = strike + sh;
    if (!(k > 0.0))
        return invalid(std::string(what) + ": strike " + short_number(strike) + " plus shift " + short_number(sh) +
                       " is not positive: no lognormal price (use a shift or model \"bachelier\")");
    if (!(f >= 0.0))
        return invalid(std::string(what) + ": forward " + short_number(forward) + " plus shift " + short_number(sh) +
                       " is negative: no lognormal price (use a shift or model \"bachelier\")");
    return black(f, k, s, theta);
}

double optionlet_vega(const Quoting& q, double forward, double strike, double vol, double t, double theta) {
    (void)theta;  // the same for calls and puts
    const double rt = std::sqrt(t), s = vol * rt;
    if (q.model == VolModel::Bachelier) {
        if (!(s > 0.0)) return 0.0;
        return rt * density((forward - strike) / s);
    }
    const double sh = shift_of(q);
    const double f = forward + sh, k = strike + sh;
    if (!(f > 0.0) || !(s > 0.0)) return 0.0;
    return rt * std::sqrt(f * k) * normalised_vega(quelm::log(f / k), s);
}

double optionlet_delta(const Quoting& q, double forward, double strike, double vol, double t, double theta) {
    const double s = vol * std::sqrt(t);
    if (q.model == VolModel::Bachelier) {
        if (!(s > 0.0)) return theta * (forward - strike) > 0.0 ? theta : 0.0;
        return theta * normal_cdf(theta * (forward - strike) / s);
    }
    const double sh = shift_of(q);
    const double f = forward + sh, k = strike + sh;
    if (!(f > 0.0)) return 0.0;
    if (!(s > 0.0)) return theta * (f - k) > 0.0 ? theta : 0.0;
    return theta * normal_cdf(theta * (quelm::log(f / k) / s + 0.5 * s));
}

Result<double> optionlet_implied_vol(const Quoting& q, double price, double forward, double strike, double t,
                                     double theta) {
    if (!(t > 0.0)) return invalid("the option has expired (t = " + short_number(t) + "): no implied vol");
    if (!std::isfinite(price)) return invalid("price must be finite, got " + short_number(price));
    const OptionType type = theta > 0.0 ? OptionType::Call : OptionType::Put;
    if (q.model == VolModel::Bachelier)
        return pricing::bachelier_implied_volatility(price, forward, strike, 0.0, t, type);
    const double sh = shift_of(q);
    const double f = forward + sh, k = strike + sh;
    if (!(f > 0.0) || !(k > 0.0))
        return invalid("the forward and the strike plus shift must be positive for a lognormal implied vol");
    const double intrinsic = std::fmax(theta * (f - k), 0.0);
    const double limit = theta > 0.0 ? f : k;
    if (!(price > intrinsic) || !(price < limit))
        return invalid("price " + short_number(price) + " is outside the bounds (" + short_number(intrinsic) + ", " +
                       short_number(limit) + ") the model allows");
    const double s = implied_black_volatility(price, f, k, theta);
    if (!std::isfinite(s) || !(s > 0.0)) return numerical("no implied vol for price " + short_number(price));
    return s / std::sqrt(t);
}

}  // namespace quelm::rates

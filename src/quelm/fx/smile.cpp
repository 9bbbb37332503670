#include "quelm/fx/smile.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <tuple>
#include <utility>

#include "quelm/core/cancel.hpp"
#include "quelm/core/math/distributions.hpp"
#include "quelm/core/math/elementary.hpp"
#include "quelm/core/math/lu.hpp"
#include "quelm/core/math/solvers.hpp"
#include "quelm/core/text.hpp"
#include "quelm/fx/delta_terms.hpp"
#include "quelm/fx/vanna_volga.hpp"
#include "quelm/volatility/sabr_calibrate.hpp"

namespace quelm::fx {

namespace {

constexpr double kTol = 1e-15;
constexpr unsigned kMaxIter = 200;

Status validate_quotes(const SmileQuotes& q) {
    if (!(q.spot > 0.0)) return invalid("spot must be > 0");
    if (!(q.t > 0.0)) return invalid("time to expiry must be > 0");
    if (!std::isfinite(q.domestic_rate) || !std::isfinite(q.foreign_rate)) return invalid("rates must be finite");
    if (!(q.atm_vol > 0.0) || !std::isfinite(q.atm_vol)) return invalid("atm_vol must be > 0");
    const std::size_t n = q.deltas.size();
    if (n == 0) return invalid("deltas must not be empty");
    const auto count = [n](const char* what, std::size_t got) {
        return bad_argument(std::string(what) + " must have one value per delta (" + std::to_string(n) + "), got " +
                            std::to_string(got));
    };
    if (q.rr.size() != n) return count("rr", q.rr.size());
    if (q.bf.size() != n) return count("bf", q.bf.size());
    for (std::size_t i = 0; i < n; ++i) {
        if (!(q.deltas[i] > 0.0 && q.deltas[i] < 0.5))
            return invalid("deltas must be in (0, 0.5), got " + format_number(q.deltas[i]));
        for (std::size_t j = 0; j < i; ++j)
            if (q.deltas[j] == q.deltas[i]) return invalid("deltas must be distinct");
        if (!std::isfinite(q.rr[i]) || !std::isfinite(q.bf[i])) return invalid("rr and bf must be finite");
    }
    return {};
}

// The first pillar of the three vanna-volga interpolates through at a strike: the outer
// triples beyond the second pillar from each end, and inside, triples on pillars 1, 3, 5, ...
// (each interior segment in one, neighbouring triples meeting on a pillar, so the smile
// stays continuous and every pillar is repriced).
std::size_t triple_of(std::span<const double> k, double strike) {
    const std::size_t m = k.size();
    if (m == 3 || strike <= k[1]) return 0;
    if (strike >= k[m - 2]) return m - 3;
    const std::size_t i = static_cast<std::size_t>(std::upper_bound(k.begin(), k.end(), strike) - k.begin()) - 1;
    return std::min(1 + 2 * ((i - 1) / 2), m - 3);
}

}  // namespace

Result<FxSmile> FxSmile::from_quotes(SmileQuotes q) {
    QUELM_CHECK(validate_quotes(q));
    FxSmile s;
    s.q_ = std::move(q);
    s.forward_ = forward_of(s.market(s.q_.atm_vol));
    if (!premium_adjusted(s.q_.delta_type)) {
        for (double d : s.q_.deltas) {
            QUELM_TRY(c, d1_of_delta(d, s.market(s.q_.atm_vol), OptionType::Call, s.q_.delta_type));
            QUELM_TRY(p, d1_of_delta(-d, s.market(s.q_.atm_vol), OptionType::Put, s.q_.delta_type));
            s.call_d1_.push_back(c);
            s.put_d1_.push_back(p);
        }
    }
    if (s.q_.strangle == Strangle::Smile) {
        QUELM_CHECK(s.set_pillars(s.q_.bf));
    } else {
        QUELM_CHECK(s.solve_market_strangles());
    }
    return s;
}

Result<double> FxSmile::pillar_strike(std::size_t i, bool put, double v) const {
    if (!call_d1_.empty()) return strike_of_d1(forward_, put ? put_d1_[i] : call_d1_[i], v * std::sqrt(q_.t));
    const double delta = put ? -q_.deltas[i] : q_.deltas[i];
    return fx_strike_from_delta(delta, market(v), put ? OptionType::Put : OptionType::Call, q_.delta_type);
}

Status FxSmile::set_pillars(std::span<const double> smile_bf) {
    const std::size_t n = q_.deltas.size();
    std::vector<std::pair<double, double>> pillars;
    pillars.reserve(2 * n + 1);
    QUELM_TRY(k_atm, fx_atm_strike(market(q_.atm_vol), q_.atm_type, q_.delta_type));
    pillars.emplace_back(k_atm, q_.atm_vol);
    for (std::size_t i = 0; i < n; ++i) {
        const double vc = q_.atm_vol + smile_bf[i] + q_.rr[i] / 2.0;
        const double vp = q_.atm_vol + smile_bf[i] - q_.rr[i] / 2.0;
        if (!(vc > 0.0 && vp > 0.0))
            return numerical("the quotes give a vol <= 0 at the " + format_number(q_.deltas[i]) + "-delta pillars");
        QUELM_TRY(kc, pillar_strike(i, false, vc));
        QUELM_TRY(kp, pillar_strike(i, true, vp));
        pillars.emplace_back(kc, vc);
        pillars.emplace_back(kp, vp);
    }
    std::sort(pillars.begin(), pillars.end());
    for (std::size_t i = 1; i < pillars.size(); ++i)
        if (!(pillars[i].first > pillars[i - 1].first))
            return numerical("the quotes give pillar strikes out of order (a put's strike above a call's)");
    strikes_.resize(pillars.size());
    vols_.resize(pillars.size());
    for (std::size_t i = 0; i < pillars.size(); ++i) std::tie(strikes_[i], vols_[i]) = pillars[i];
    smile_bf_.assign(smile_bf.begin(), smile_bf.end());

    switch (q_.interpolation) {
        case SmileInterp::VannaVolga: break;
        case SmileInterp::Sabr: {
            QUELM_TRY(fit, volatility::sabr_calibrate(forward_, strikes_, vols_, q_.t, 1.0, {}, never_cancel()));
            sabr_ = fit.params;
            break;
        }
        case SmileInterp::SplineInDelta: {
            // Nodes in the forward call delta N(d1), which falls as the strike rises.
            const std::size_t m = strikes_.size();
            node_deltas_.resize(m);
            node_vols_.resize(m);
            for (std::size_t i = 0; i < m; ++i) {
                const double s = vols_[m - 1 - i] * std::sqrt(q_.t);
                node_deltas_[i] = normal_cdf(d_terms(forward_, strikes_[m - 1 - i], s).d1);
                node_vols_[i] = vols_[m - 1 - i];
            }
            for (std::size_t i = 1; i < m; ++i)
                if (!(node_deltas_[i] > node_deltas_[i - 1]))
                    return numerical("the pillars' forward deltas are not ordered as their strikes");
            QUELM_TRY(spline, NaturalCubicSpline::create(node_deltas_, node_vols_));
            spline_.assign(1, std::move(spline));
            break;
        }
    }
    return {};
}

Status FxSmile::solve_market_strangles() {
    const std::size_t n = q_.deltas.size();
    // The market strangle of each delta: both legs struck at ATM + bf in the smile's delta
    // type, and its price there, which the smile must give at those strikes.
    std::vector<double> kc(n), kp(n), target(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double v = q_.atm_vol + q_.bf[i];
        if (!(v > 0.0)) return invalid("atm_vol + bf must be > 0");
        QUELM_TRY(c, pillar_strike(i, false, v));
        QUELM_TRY(p, pillar_strike(i, true, v));
        QUELM_TRY(pc, garman_kohlhagen(market(v), c, OptionType::Call));
        QUELM_TRY(pp, garman_kohlhagen(market(v), p, OptionType::Put));
        kc[i] = c;
        kp[i] = p;
        target[i] = pc + pp;
    }
    const auto residuals = [&](std::span<const double> u, std::vector<double>& r) -> Status {
        QUELM_CHECK(set_pillars(u));
        r.resize(n);
        for (std::size_t i = 0; i < n; ++i) {
            QUELM_TRY(pc, garman_kohlhagen(market(vol_unchecked(kc[i])), kc[i], OptionType::Call));
            QUELM_TRY(pp, garman_kohlhagen(market(vol_unchecked(kp[i])), kp[i], OptionType::Put));
            r[i] = pc + pp - target[i];
        }
        return {};
    };
    // Newton on the smile strangles from the market's, with a forward-difference Jacobian
    // (the strangle prices move almost linearly in them), kept while it keeps converging.
    std::vector<double> u(q_.bf.begin(), q_.bf.end()), r, shifted, rs;
    const double tol = 1e-15 * q_.spot;
    const double h = 1e-7;
    std::vector<double> jac;
    std::optional<LuFactors> lu;
    double last = std::numeric_limits<double>::infinity();
    for (int iter = 0; iter < 40; ++iter) {
        QUELM_CHECK(residuals(u, r));
        double size = 0.0;
        for (double x : r) size = std::max(size, std::fabs(x));
        if (size <= tol) return {};
        if (!lu || size > last / 4.0) {
            jac.assign(n * n, 0.0);
            for (std::size_t j = 0; j < n; ++j) {
                shifted = u;
                shifted[j] += h;
                QUELM_CHECK(residuals(shifted, rs));
                for (std::size_t i = 0; i < n; ++i) jac[i * n + j] = (rs[i] - r[i]) / h;
            }
            QUELM_TRY(f, LuFactors::factor(jac, n));
            lu = std::move(f);
        }
        last = size;
        std::vector<double> step(r);
        lu->solve(step);
        double moved = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            u[i] -= step[i];
            moved = std::max(moved, std::fabs(step[i]));
        }
        if (moved <= 1e-16) {
            QUELM_CHECK(residuals(u, r));
            return {};
        }
    }
    // A fit that is itself a least-squares solve (SABR through five or more pillars) carries
    // its own tolerance into the prices: accept what it reaches at that level.
    QUELM_CHECK(residuals(u, r));
    double size = 0.0, premium = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        size = std::max(size, std::fabs(r[i]));
        premium = std::max(premium, target[i]);
    }
    if (size <= 1e-9 * premium) return {};
    return numerical("the smile could not be fitted to the market strangles");
}

double FxSmile::vol_unchecked(double strike) const {
    switch (q_.interpolation) {
        case SmileInterp::VannaVolga: {
            const std::size_t j = triple_of(strikes_, strike);
            const Pillars3 p{{strikes_[j], strikes_[j + 1], strikes_[j + 2]}, {vols_[j], vols_[j + 1], vols_[j + 2]}};
            return vanna_volga_vol(forward_, q_.t, p, strike);
        }
        case SmileInterp::Sabr: return volatility::sabr_vol_unchecked(forward_, strike, q_.t, sabr_);
        case SmileInterp::SplineInDelta: {
            const NaturalCubicSpline& spline = spline_.front();
            const double lo = node_deltas_.front(), hi = node_deltas_.back();
            const auto vol_at = [&](double x) {
                if (x <= lo) return node_vols_.front();
                if (x >= hi) return node_vols_.back();
                const Result<double> v = spline.eval(x);
                return v ? *v : kNaN;
            };
            // The strike's forward call delta x solves x = N(d1(K, vol(x))): rising from < 0 at
            // x = 0 to > 0 at x = 1.
            const double rt = std::sqrt(q_.t);
            const auto f = [&](double x) { return x - normal_cdf(d_terms(forward_, strike, vol_at(x) * rt).d1); };
            const Result<double> x = brent(f, 0.0, 1.0, kTol, kMaxIter);
            return x ? vol_at(*x) : kNaN;
        }
    }
    return kNaN;
}

Result<double> FxSmile::vol(double strike) const {
    if (std::isnan(strike)) return kNaN;
    if (!(strike > 0.0)) return invalid("strike must be > 0");
    const double v = vol_unchecked(strike);
    if (!(v > 0.0) || !std::isfinite(v))
        return numerical("the smile gives no volatility at strike " + format_number(strike));
    return v;
}

Result<double> FxSmile::vol_at_delta(double delta, OptionType type) const {
    if (std::isnan(delta)) return kNaN;
    // The vol is a fixed point of vol -> smile(strike_from_delta(delta, vol)); from ATM the
    // iteration contracts for any smile whose slope in the strike is moderate.
    double v = q_.atm_vol;
    for (int i = 0; i < 200; ++i) {
        QUELM_TRY(k, fx_strike_from_delta(delta, market(v), type, q_.delta_type));
        const double next = vol_unchecked(k);
        if (!(next > 0.0) || !std::isfinite(next)) break;
        if (std::fabs(next - v) <= 1e-15 * v) return next;
        v = next;
    }
    // Otherwise bracket it.
    const auto g = [&](double x) {
        const Result<double> k = fx_strike_from_delta(delta, market(x), type, q_.delta_type);
        return k ? vol_unchecked(*k) - x : kNaN;
    };
    QUELM_TRY(at_atm, fx_strike_from_delta(delta, market(q_.atm_vol), type, q_.delta_type));
    (void)at_atm;  // the delta fits the convention
    const Result<double> root = brent(g, 1e-4, 4.0, kTol, kMaxIter);
    if (!root) return numerical("the smile has no vol at delta " + format_number(delta));
    return *root;
}

Result<double> FxSmile::strike_at_delta(double delta, OptionType type) const {
    QUELM_TRY(v, vol_at_delta(delta, type));
    return fx_strike_from_delta(delta, market(v), type, q_.delta_type);
}

}  // namespace quelm::fx

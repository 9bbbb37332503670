#include "quelm/volatility/heston_calibrate.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "quelm/core/math/distributions.hpp"
#include "quelm/core/math/elementary.hpp"
#include "quelm/core/math/least_squares.hpp"
#include "quelm/core/memory.hpp"
#include "quelm/pricing/black/black_scholes.hpp"
#include "quelm/pricing/black/implied_vol.hpp"

namespace quelm::volatility {

namespace {

constexpr double kDefaultLower[5] = {1e-4, 1e-3, 1e-4, 1e-3, -0.999};
constexpr double kDefaultUpper[5] = {4.0, 20.0, 4.0, 5.0, 0.999};
constexpr const char* kNames[5] = {"v0", "kappa", "theta", "xi", "rho"};

HestonParams params_of(std::span<const double> x) { return {x[0], x[1], x[2], x[3], x[4]}; }

// Quotes grouped by expiry (ascending), each group a list of quote indices.
struct Groups {
    std::vector<double> expiry;
    std::vector<std::vector<std::size_t>> members;
};

Groups group_by_expiry(std::span<const double> expiries) {
    std::vector<std::size_t> order(expiries.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return expiries[a] < expiries[b]; });
    Groups g;
    for (const std::size_t i : order) {
        if (g.expiry.empty() || g.expiry.back() != expiries[i]) {
            g.expiry.push_back(expiries[i]);
            g.members.emplace_back();
        }
        g.members.back().push_back(i);
    }
    return g;
}

OptionType type_of(const HestonChain& c, std::size_t i) { return c.types.size() == 1 ? c.types[0] : c.types[i]; }

Result<double> black_price(const HestonChain& c, std::size_t i, double vol) {
    return pricing::black_scholes({.strike = c.strikes[i], .expiry = c.expiries[i], .option_type = type_of(c, i)},
                                  {.spot = c.spot, .rate = c.rate, .vol = vol, .dividend_yield = c.dividend_yield});
}

// A quote no model can reach (outside the no-arbitrage bounds) is rejected up front, as
// VolSurface.from_chain rejects it, rather than fitted to the nearest corner of the box.
Status check_quote(const HestonChain& c, std::size_t i) {
    const auto st = pricing::check_quote_bounds(
        {.strike = c.strikes[i], .expiry = c.expiries[i], .option_type = type_of(c, i)},
        {.spot = c.spot, .rate = c.rate, .vol = 0.0, .dividend_yield = c.dividend_yield}, c.quotes[i]);
    if (!st) return std::unexpected(Error{st.error().kind, "quote " + std::to_string(i) + ": " + st.error().text});
    return {};
}

// A fit that ends with a parameter on the box is held there by the bounds, not settled at
// a minimum of the quotes' errors (the projected steps clamp onto a bound exactly).
bool on_a_bound(std::span<const double> x, std::span<const double> lo, std::span<const double> hi) {
    for (std::size_t j = 0; j < x.size(); ++j)
        if (x[j] <= lo[j] || x[j] >= hi[j]) return true;
    return false;
}

Result<double> black_vol(const HestonChain& c, std::size_t i, double price) {
    return pricing::implied_volatility({.strike = c.strikes[i], .expiry = c.expiries[i], .option_type = type_of(c, i)},
                                       {.spot = c.spot, .rate = c.rate, .vol = 0.0, .dividend_yield = c.dividend_yield},
                                       price);
}

Status check_chain(const HestonChain& c) {
    const std::size_t n = c.strikes.size();
    if (c.expiries.size() != n || c.quotes.size() != n)
        return bad_argument("strikes, expiries and quotes must have equal length");
    if (c.types.size() != 1 && c.types.size() != n)
        return bad_argument("option_types must be one option type or one per quote");
    if (!c.weights.empty() && c.weights.size() != n) return bad_argument("weights must have one entry per quote");
    if (!(c.spot > 0.0)) return invalid("spot must be > 0");
    if (!std::isfinite(c.rate)) return invalid("rate must be finite");
    if (!std::isfinite(c.dividend_yield)) return invalid("dividend_yield must be finite");
    if (n < 5) return invalid("at least 5 quotes are needed to fit 5 parameters");
    double weight_sum = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        if (!(c.strikes[i] > 0.0) || !std::isfinite(c.strikes[i])) return invalid("strikes must be finite and > 0");
        if (!(c.expiries[i] > 0.0) || !std::isfinite(c.expiries[i])) return invalid("expiries must be finite and > 0");
        if (!(c.quotes[i] > 0.0) || !std::isfinite(c.quotes[i])) return invalid("quotes must be finite and > 0");
        if (!c.weights.empty()) {
            if (!(c.weights[i] >= 0.0) || !std::isfinite(c.weights[i])) return invalid("weights must be finite and >= 0");
            weight_sum += c.weights[i];
        }
    }
    if (!c.weights.empty() && !(weight_sum > 0.0)) return invalid("weights must not all be 0");
    return {};
}

}  // namespace

Result<HestonCalibration> heston_calibrate(const HestonChain& c, std::span<const double> initial,
                                           std::span<const std::span<const double>> bounds,
                                           std::size_t max_iterations, Cancel& cancel) {
    QUELM_CHECK(check_chain(c));
    const std::size_t n = c.strikes.size();
    QUELM_CHECK(check_fits_in_memory(doubles_bytes(12.0 * static_cast<double>(n)), "the calibration's residuals"));

    std::vector<double> lo(kDefaultLower, kDefaultLower + 5), hi(kDefaultUpper, kDefaultUpper + 5);
    if (!bounds.empty()) {
        if (bounds.size() != 5) return invalid("bounds must hold five (lower, upper) pairs");
        for (std::size_t j = 0; j < 5; ++j) {
            if (bounds[j].size() != 2) return invalid("bounds must hold five (lower, upper) pairs");
            lo[j] = bounds[j][0];
            hi[j] = bounds[j][1];
            if (!(lo[j] < hi[j])) return invalid(std::string("bounds of ") + kNames[j] + " must have lower < upper");
        }
        if (lo[0] < 0.0 || lo[2] < 0.0 || lo[3] < 0.0) return invalid("bounds of v0, theta and xi must be >= 0");
        if (lo[1] <= 0.0) return invalid("bounds of kappa must be > 0");
        if (lo[4] < -1.0 || hi[4] > 1.0) return invalid("bounds of rho must lie in [-1, 1]");
    }

    // Market prices, and for vol quotes the vega that turns a price error into a vol error.
    std::vector<double> market(n), scale(n, 1.0);
    for (std::size_t i = 0; i < n; ++i) {
        if (c.quote_type == QuoteType::Price) {
            QUELM_CHECK(check_quote(c, i));
            market[i] = c.quotes[i];
        } else {
            QUELM_TRY(p, black_price(c, i, c.quotes[i]));
            market[i] = p;
            const double t = c.expiries[i], sd = c.quotes[i] * std::sqrt(t);
            const double d1 = (quelm::log(c.spot / c.strikes[i]) + (c.rate - c.dividend_yield) * t) / sd + sd / 2.0;
            const double vega = c.spot * quelm::exp(-c.dividend_yield * t) * std::sqrt(t) * normal_pdf(d1);
            scale[i] = 1.0 / std::max(vega, 1e-8 * c.spot);
        }
        if (!c.weights.empty()) scale[i] *= std::sqrt(c.weights[i]);
    }

    std::vector<double> x0(5);
    if (!initial.empty()) {
        if (initial.size() != 5) return invalid("initial must hold five values (v0, kappa, theta, xi, rho)");
        for (std::size_t j = 0; j < 5; ++j) {
            if (!(initial[j] >= lo[j] && initial[j] <= hi[j]))
                return invalid(std::string("initial ") + kNames[j] + " must lie within its bounds");
            x0[j] = initial[j];
        }
    } else {
        // The variance implied at the quote nearest the money starts v0 and theta.
        std::size_t atm = 0;
        double best = INFINITY;
        for (std::size_t i = 0; i < n; ++i) {
            const double m = std::fabs(quelm::log(c.strikes[i] / c.spot) - (c.rate - c.dividend_yield) * c.expiries[i]);
            if (m < best) best = m, atm = i;
        }
        double vol = 0.2;
        if (c.quote_type == QuoteType::Vol) {
            vol = c.quotes[atm];
        } else if (const auto v = black_vol(c, atm, c.quotes[atm]); v && std::isfinite(*v)) {
            vol = *v;
        }
        x0 = {vol * vol, 1.5, vol * vol, 0.5, -0.5};
    }

    const Groups groups = group_by_expiry(c.expiries);
    std::vector<double> model(n);
    std::vector<double> ks, out;
    std::vector<OptionType> ts;
    const auto price_all = [&](const HestonParams& p) -> Status {
        for (std::size_t g = 0; g < groups.expiry.size(); ++g) {
            const auto& idx = groups.members[g];
            ks.resize(idx.size());
            ts.resize(idx.size());
            out.resize(idx.size());
            for (std::size_t j = 0; j < idx.size(); ++j) {
                ks[j] = c.strikes[idx[j]];
                ts[j] = type_of(c, idx[j]);
            }
            QUELM_CHECK(heston_prices({.spot = c.spot, .rate = c.rate, .dividend_yield = c.dividend_yield,
                                       .t = groups.expiry[g]},
                                      ks, ts, p, out, cancel));
            for (std::size_t j = 0; j < idx.size(); ++j) model[idx[j]] = out[j];
        }
        return {};
    };
    const Residuals residuals = [&](std::span<const double> x, std::span<double> r) -> Status {
        QUELM_CHECK(price_all(params_of(x)));
        for (std::size_t i = 0; i < n; ++i) r[i] = scale[i] * (model[i] - market[i]);
        return {};
    };
    LsqSettings settings;
    settings.max_iterations = max_iterations;
    QUELM_TRY(fit, bounded_least_squares(residuals, x0, lo, hi, n, settings, cancel));

    // The errors in the quotes' own units at the fitted parameters.
    HestonCalibration out_fit{params_of(fit.x), 0.0, 0.0, fit.iterations,
                              fit.converged() && !on_a_bound(fit.x, lo, hi), std::vector<double>(n)};
    QUELM_CHECK(price_all(out_fit.params));
    for (std::size_t i = 0; i < n; ++i) {
        if (c.quote_type == QuoteType::Price) {
            out_fit.residuals[i] = model[i] - c.quotes[i];
        } else {
            const auto v = black_vol(c, i, model[i]);
            out_fit.residuals[i] = v ? *v - c.quotes[i] : kNaN;
        }
    }
    const FitErrors errors = fit_errors(out_fit.residuals, c.weights);
    out_fit.rmse = errors.rmse;
    out_fit.max_error = errors.max_error;
    return out_fit;
}

}  // namespace quelm::volatility

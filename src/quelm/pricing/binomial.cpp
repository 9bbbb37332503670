#include "quelm/pricing/binomial.hpp"

#include <algorithm>
#include <cmath>

#include "quelm/core/buffer.hpp"
#include "quelm/core/math/elementary.hpp"
#include "quelm/core/memory.hpp"
#include "quelm/core/sizes.hpp"

namespace quelm::pricing {

namespace {

// Room for n + 1 values in b, keeping what it has when that is enough.
DoubleBuffer& room(DoubleBuffer& b, std::size_t n) {
    if (b.size() < checked_add(n, 1)) b = DoubleBuffer(checked_add(n, 1));
    return b;
}

// x^0, x^1, ..., x^n by repeated multiplication into p; stops early (unfinished) once polled to stop.
const DoubleBuffer& power_table(double x, std::size_t n, DoubleBuffer& into, CancelPoller& poller) {
    DoubleBuffer& p = room(into, n);
    p[0] = 1.0;
    for (std::size_t k = 1; k <= n; ++k) {
        p[k] = x * p[k - 1];
        if ((k & 65535) == 0 && poller.check()) break;
    }
    return p;
}

// Past this log-size the table of (u^2)^j, whose top entry is e^(2 sigma sqrt(T n)),
// comes too close to the largest double (e^709.78).
constexpr double kLogTableLimit = 700.0;

// Backward induction over the tree. row(i) gives the node prices of date i as a
// function of j (the number of up moves).
template <class Row>
Result<double> roll_back(OptionType type, bool american, std::size_t n, double p, double disc, double K,
                         const Row& row, DoubleBuffer& values, CancelPoller& poller) {
    DoubleBuffer& V = room(values, n);
    {
        const auto at = row(n);
        for (std::size_t j = 0; j <= n; ++j) {
            V[j] = payoff(type, at(j), K);
            if ((j & 65535) == 0 && poller.check()) return cancelled();
        }
    }
    const double q1 = 1.0 - p;
    // Rows of a long tree are long too, so the poll runs between blocks of a row; V[j] is
    // final once written, and the order of the updates is unchanged.
    constexpr std::size_t kRowBlock = 65536;
    for (std::size_t i = n; i-- > 0;) {
        const auto at = row(i);
        for (std::size_t j0 = 0; j0 <= i; j0 += kRowBlock) {
            const std::size_t j1 = std::min(i + 1, j0 + kRowBlock);
            for (std::size_t j = j0; j < j1; ++j) {
                const double c = disc * (p * V[j + 1] + q1 * V[j]);
                if (american) {
                    const double ex = payoff(type, at(j), K);
                    V[j] = c > ex ? c : ex;
                } else {
                    V[j] = c;
                }
            }
            if (poller.tick(j1 - j0)) return cancelled();
        }
    }
    return V[0];
}

}  // namespace

Result<double> binomial(const OptionContract& o, const MarketInputs& m, const BinomialSettings& s, Cancel& cancel) {
    BinomialBuffers work;
    return binomial(o, m, s, work, cancel);
}

Result<double> binomial(const OptionContract& o, const MarketInputs& m, const BinomialSettings& s,
                        BinomialBuffers& work, Cancel& cancel) {
    const double S = m.spot, K = o.strike, T = o.expiry, r = m.rate, q = m.dividend_yield, sigma = m.vol;
    const OptionType type = o.option_type;
    const ExerciseStyle style = s.style;
    const std::uint64_t steps = s.steps;
    QUELM_CHECK(validate_vanilla(K, S, sigma, T));
    if (steps == 0) return invalid("steps must be >= 1");
    if (any_nan(m, K, T)) return kNaN;
    if (T == 0.0) return payoff(type, S, K);
    if (sigma == 0.0) {
        const double F = S * quelm::exp((r - q) * T);
        const double european = quelm::exp(-r * T) * payoff(type, F, K);
        if (style == ExerciseStyle::European) return european;
        // The tree's own exercise dates i T / n, not only its two ends.
        const double now = payoff(type, S, K);
        const double ends = european > now ? european : now;
        return std::max(ends, best_interior_exercise(type, S, K, r, q, T, steps));
    }
    const double n_f = static_cast<double>(steps);
    const double dt = T / n_f;
    const double u = quelm::exp(sigma * std::sqrt(dt));
    const double d = 1.0 / u;
    const double disc = quelm::exp(-r * dt);
    const double p = 0.5 + (r - q - sigma * sigma / 2.0) * std::sqrt(dt) / (2.0 * sigma);
    if (p < 0.0 || p > 1.0) return numerical("binomial: risk-neutral probability outside [0,1] (check inputs/steps)");

    // Two power tables and one row of node values.
    // Buffers kept from an earlier tree and long enough already cost nothing more.
    const double fresh = static_cast<double>((work.first.size() <= steps) + (work.second.size() <= steps) +
                                             (work.values.size() <= steps));
    QUELM_TRY(memory, claim_memory(doubles_bytes(fresh * (n_f + 1.0)), "the binomial tree"));
    const std::size_t n = checked_count(steps);
    CancelPoller poller(cancel);
    const bool american = style == ExerciseStyle::American;
    if (2.0 * (sigma * std::sqrt(T * n_f)) < kLogTableLimit) {
        // Node (i, j) priced as (S d^i) (u^2)^j.
        const DoubleBuffer& pow_d = power_table(d, n, work.first, poller);
        const DoubleBuffer& pow_u2 = power_table(u * u, n, work.second, poller);
        if (poller.stopped()) return cancelled();
        const auto row = [&](std::size_t i) {
            const double base = S * pow_d[i];
            return [base, &pow_u2](std::size_t j) { return base * pow_u2[j]; };
        };
        return roll_back(type, american, n, p, disc, K, row, work.values, poller);
    }
    // A wide tree: node (i, j) priced as S u^(2j - i), so no intermediate power exceeds
    // the node price itself. A put pays exactly 0 at a node beyond the double range, so
    // only a call needs every node price finite.
    const DoubleBuffer& pow_u = power_table(u, n, work.first, poller);
    const DoubleBuffer& pow_d = power_table(d, n, work.second, poller);
    if (poller.stopped()) return cancelled();
    if (type == OptionType::Call && !std::isfinite(S * pow_u[n])) {
        return numerical("binomial: node prices overflow (vol * sqrt(t * steps) too large for the tree)");
    }
    const auto row = [&](std::size_t i) {
        return [i, S, &pow_u, &pow_d](std::size_t j) {
            return 2 * j >= i ? S * pow_u[2 * j - i] : S * pow_d[i - 2 * j];
        };
    };
    return roll_back(type, american, n, p, disc, K, row, work.values, poller);
}

}  // namespace quelm::pricing

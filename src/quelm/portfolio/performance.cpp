#include "quelm/portfolio/performance.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

#include "quelm/core/math/elementary.hpp"
#include "quelm/core/math/solvers.hpp"

namespace quelm::portfolio {

namespace {

// Flows as (year fraction from the first flow, amount), computed once per call.
struct Discounting {
    std::vector<double> years;
    std::vector<double> amounts;
    CancelPoller* poller = nullptr;  // when set, npv polls between blocks and reads 0 once stopped

    explicit Discounting(std::span<const CashFlow> flows) : years(flows.size()), amounts(flows.size()) {
        const dates::DayNumber t0 = flows.front().day;
        for (std::size_t i = 0; i < flows.size(); ++i) {
            years[i] = static_cast<double>(flows[i].day - t0) / 365.0;
            amounts[i] = flows[i].amount;
        }
    }

    [[nodiscard]] double npv(double rate) const {
        constexpr std::size_t kBlock = 4096;
        double sum = -0.0;
        for (std::size_t b = 0; b < years.size(); b += kBlock) {
            const std::size_t e = std::min(years.size(), b + kBlock);
            for (std::size_t i = b; i < e; ++i) sum += amounts[i] / quelm::pow(1.0 + rate, years[i]);
            if (poller != nullptr && poller->tick(e - b)) return 0.0;
        }
        return sum;
    }
};

// The scan rates -0.9999, then +0.01 at a time (accumulated) until a rate reaches 10.
const std::vector<double>& scan_grid() {
    static const std::vector<double> grid = [] {
        std::vector<double> g{-0.9999};
        while (g.back() < 10.0) g.push_back(g.back() + 0.01);
        return g;
    }();
    return grid;
}

// The sign of the exact NPV sum at `rate` when it is certain, else 0. The terms are
// formed cheaply as amount * exp(-years * log1p(rate)); their relative error is at most
// a few (1 + |years * log1p(rate)|) ulps, the plain evaluation's at most a few n ulps, so a
// sum far above 1e-9 of the summed term sizes has the same sign in both.
struct Probe {
    int sign;       // certain sign, or 0
    double margin;  // NPV over the summed term sizes, in [-1, 1]
};

Probe certain_sign(const Discounting& d, double rate) {
    const double log_growth = quelm::log1p(rate);
    double sum = -0.0;
    double size = -0.0;
    double widest = 0.0;
    for (std::size_t i = 0; i < d.years.size(); ++i) {
        const double exponent = d.years[i] * log_growth;
        const double term = d.amounts[i] * quelm::exp(-exponent);
        sum += term;
        size += std::fabs(term);
        widest = std::max(widest, std::fabs(exponent));
    }
    if (!(size < 1e300) || !(widest < 1e4)) return {0, 0.0};
    const double slack = 1e-9 * size + 1e-290;
    const double margin = size > 0.0 ? sum / size : 0.0;
    if (sum > slack) return {1, margin};
    if (sum < -slack) return {-1, margin};
    return {0, margin};
}

// The sign of the NPV as the rate falls to -100 % (the latest flows dominate) and as it
// grows without bound (the earliest flows dominate), when the amounts ordered by date
// change sign exactly once; {0, 0} otherwise (same-date amounts of mixed signs are not
// judged). With one sign change the exact NPV has one root above -100 %, one sign on each
// side of it, and |NPV| relative to the summed term sizes only grows away from it
// (Descartes' rule of signs in x = 1/(1+r)).
std::pair<int, int> end_signs(const Discounting& d) {
    std::vector<std::size_t> order(d.years.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    // Flows usually arrive in date order already; sort only when they do not.
    if (!std::is_sorted(d.years.begin(), d.years.end()))
        std::stable_sort(order.begin(), order.end(),
                         [&](std::size_t a, std::size_t b) { return d.years[a] < d.years[b]; });
    int first = 0;
    int last = 0;
    int changes = 0;
    for (std::size_t k = 0; k < order.size();) {
        const double y = d.years[order[k]];
        int group = 0;
        for (; k < order.size() && d.years[order[k]] == y; ++k) {
            const double a = d.amounts[order[k]];
            const int s = a > 0.0 ? 1 : (a < 0.0 ? -1 : 0);
            if (s == 0) continue;
            if (group != 0 && s != group) return {0, 0};
            group = s;
        }
        if (group == 0) continue;
        if (first == 0) first = group;
        if (last != 0 && group != last) ++changes;
        last = group;
    }
    if (changes != 1) return {0, 0};
    return {last, first};
}

// The first grid index from which the plain scan can change its outcome. The scan steps
// before it provably see the same non-zero sign twice and move on, so starting there
// gives exactly the plain scan's answer. The search keeps `lo` at 0 or at a point of
// certain low-side sign and `hi` at the end or at a point of certain high-side sign;
// it probes the usual range of returns (0 % to 25 %) first.
std::size_t scan_start(const Discounting& d, const std::vector<double>& grid) {
    if (d.years.size() > 100000) return 0;  // keeps the rounding bound of certain_sign valid
    for (std::size_t i = 0; i < d.years.size(); ++i)
        if (!std::isfinite(d.years[i]) || !std::isfinite(d.amounts[i])) return 0;
    const auto [s_lo, s_hi] = end_signs(d);
    if (s_lo == 0) return 0;
    std::size_t lo = 0;
    std::size_t hi = grid.size() - 1;
    const std::size_t hints[2] = {100, 125};  // the grid points nearest 0 % and 25 %
    std::size_t next_hint = 0;
    // Once both ends are probed, the next probe interpolates the margin (smooth and
    // monotone in the rate) between them; after two moves of the same end it bisects.
    bool lo_probed = false, hi_probed = false;
    double m_lo = 0.0, m_hi = 0.0;
    int same_side = 0, last_side = 0;
    while (hi - lo > 1) {
        std::size_t mid = lo + (hi - lo) / 2;
        while (next_hint < 2 && !(hints[next_hint] > lo && hints[next_hint] < hi)) ++next_hint;
        if (next_hint < 2) {
            mid = hints[next_hint++];
        } else if (lo_probed && hi_probed && same_side < 2 && m_lo != m_hi) {
            const double frac = m_lo / (m_lo - m_hi);
            const double guess = static_cast<double>(lo) + frac * static_cast<double>(hi - lo);
            mid = static_cast<std::size_t>(std::clamp(guess, static_cast<double>(lo + 1),
                                                      static_cast<double>(hi - 1)));
        }
        const Probe p = certain_sign(d, grid[mid]);
        const int side = p.sign == s_lo ? -1 : (p.sign == s_hi ? 1 : 0);
        if (side == 0) break;  // inside the rounding band around the root: scan from lo
        same_side = side == last_side ? same_side + 1 : 0;
        last_side = side;
        if (side < 0) {
            lo = mid;
            m_lo = p.margin;
            lo_probed = true;
        } else {
            hi = mid;
            m_hi = p.margin;
            hi_probed = true;
        }
    }
    return lo;
}

}  // namespace

double npv(std::span<const CashFlow> flows, double rate) {
    return Discounting(flows).npv(rate);
}

Result<double> mwr(std::span<const CashFlow> flows, Cancel& cancel) {
    if (flows.size() < 2) return invalid("mwr: need at least 2 cash flows");
    const auto no_irr = [] {
        return numerical("mwr: no internal rate of return found (cash flows may not change sign)");
    };
    // All-zero amounts make the NPV vanish at every rate: there is no rate to report.
    bool all_zero = true;
    for (const CashFlow& f : flows) all_zero = all_zero && f.amount == 0.0;
    if (all_zero) return no_irr();

    // Once stopped every NPV reads 0, which ends the scan or the search at once; the
    // rate found is then dropped.
    CancelPoller poller(cancel);
    Discounting d(flows);
    d.poller = &poller;
    const auto result = [&](Result<double> r) -> Result<double> {
        if (poller.stopped()) return cancelled();
        return r;
    };
    const std::vector<double>& grid = scan_grid();
    // Brent starts by evaluating both bracket ends, which the scan has just done.
    double memo_rate[2] = {NAN, NAN};
    double memo_value[2] = {0.0, 0.0};
    const auto f = [&](double r) {
        for (int k = 0; k < 2; ++k)
            if (memo_rate[k] == r) return memo_value[k];
        return d.npv(r);
    };
    std::size_t k = scan_start(d, grid);
    double lo = grid[k];
    double f_lo = d.npv(lo);
    while (lo < 10.0) {
        const double hi = grid[k + 1];
        const double f_hi = d.npv(hi);
        if (f_lo == 0.0) return result(lo);
        if (f_lo * f_hi < 0.0) {
            memo_rate[0] = lo;
            memo_value[0] = f_lo;
            memo_rate[1] = hi;
            memo_value[1] = f_hi;
            return result(brent(f, lo, hi, 1e-12, 200));
        }
        lo = hi;
        f_lo = f_hi;
        ++k;
    }
    return result(no_irr());
}

Result<double> twr(std::span<const double> values, std::span<const double> flows) {
    if (values.size() < 2) return invalid("twr: need at least 2 valuations");
    if (flows.size() != values.size() - 1) return invalid("twr: flows length must be values length \u2212 1");
    double growth = 1.0;
    for (std::size_t i = 0; i + 1 < values.size(); ++i) {
        const double base = values[i] + flows[i];
        if (base == 0.0) return invalid("twr: zero sub-period base (value + flow)");
        growth = growth * (values[i + 1] / base);
    }
    return growth - 1.0;
}

Result<double> mwr(std::span<const std::string> dates, std::span<const double> amounts, Cancel& cancel) {
    if (dates.size() != amounts.size()) return bad_argument("dates and amounts must be the same length");
    std::vector<CashFlow> flows;
    flows.reserve(dates.size());
    for (std::size_t i = 0; i < dates.size(); ++i) {
        const Parsed<dates::Civil> d = dates::parse_iso_civil(dates[i]);
        if (!d) return bad_argument(d.error());
        flows.push_back({dates::day_number(*d), amounts[i]});
    }
    return mwr(flows, cancel);
}

}  // namespace quelm::portfolio

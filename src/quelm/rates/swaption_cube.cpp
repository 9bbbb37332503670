#include "quelm/rates/swaption_cube.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>
#include <string>

#include "quelm/core/parallel.hpp"
#include "quelm/core/text.hpp"
#include "quelm/curves/instrument.hpp"
#include "quelm/rates/swaption.hpp"
#include "quelm/volatility/sabr.hpp"

namespace quelm::rates {

namespace {

volatility::SabrModel sabr_model(VolModel m) {
    return m == VolModel::Bachelier ? volatility::SabrModel::Normal : volatility::SabrModel::Lognormal;
}

std::string node_name(dates::Tenor e, dates::Tenor t) {
    return "node " + curves::tenor_text(e) + " x " + curves::tenor_text(t);
}

}  // namespace

double nominal_years(dates::Tenor t) {
    switch (t.unit) {
        case dates::TenorUnit::Years: return t.count;
        case dates::TenorUnit::Months: return t.count / 12.0;
        case dates::TenorUnit::Weeks: return t.count * 7.0 / 365.0;
        case dates::TenorUnit::Days: return t.count / 365.0;
    }
    return 0.0;
}

namespace {

// The bracket of x in an increasing grid: lower index and the weight of the upper one,
// flat outside.
struct Bracket {
    std::size_t i;
    double w;
};
Bracket bracket(const std::vector<double>& grid, double x) {
    if (grid.size() == 1 || x <= grid.front()) return {0, 0.0};
    if (x >= grid.back()) return {grid.size() - 2, 1.0};
    const std::size_t j = static_cast<std::size_t>(std::upper_bound(grid.begin(), grid.end(), x) - grid.begin());
    return {j - 1, (x - grid[j - 1]) / (grid[j] - grid[j - 1])};
}

Result<double> node_vol(const SwaptionCube& c, const CubeNode& n, double strike) {
    return node_smile_vol(c, n, n.fit.params, strike);
}

}  // namespace

Result<double> node_smile_vol(const SwaptionCube& c, const CubeNode& n, const volatility::SabrParams& p,
                              double strike) {
    return volatility::sabr_vol_of(sabr_model(c.model), n.forward, strike, n.t, p, c.shift);
}

Result<volatility::SabrCalibration> fit_node(const SwaptionCube& c, const CubeNode& n, std::span<const double> vols) {
    // The starts stop at the first that fits every quote to 1e-6 of the smallest.
    const double accept = 1e-6 * *std::min_element(vols.begin(), vols.end());
    return volatility::sabr_calibrate_model(sabr_model(c.model), n.forward, n.strikes, vols, n.t, c.beta, c.shift, {},
                                            never_cancel(), accept);
}

Result<CubeStrike> parse_cube_strike(std::string_view text) {
    std::string s = normalise_choice(text, true, false);
    if (s.rfind("atm", 0) != 0) return invalid("strike " + single_quoted(text) + " is not a number, \"ATM\" or \"ATM+25\"");
    s.erase(0, 3);
    if (s.empty()) return CubeStrike{true, 0.0};
    const char sign = s[0];
    if (sign != '+' && sign != '-') return invalid("strike " + single_quoted(text) + " is not \"ATM\", \"ATM+25\" or \"ATM-25\"");
    double bp = 0.0;
    const auto [end, ec] = std::from_chars(s.data() + 1, s.data() + s.size(), bp);
    if (ec != std::errc() || end != s.data() + s.size() || !std::isfinite(bp))
        return invalid("strike " + single_quoted(text) + ": the offset must be a number of basis points");
    return CubeStrike{true, (sign == '-' ? -bp : bp) / 10000.0};
}

bool operator==(const SwaptionCube& a, const SwaptionCube& b) {
    if (a.reference != b.reference || a.expiries != b.expiries || a.tenors != b.tenors || a.model != b.model ||
        a.beta != b.beta || a.shift != b.shift || a.strikes != b.strikes || a.nodes.size() != b.nodes.size())
        return false;
    for (std::size_t i = 0; i < a.nodes.size(); ++i)
        if (a.nodes[i].strikes != b.nodes[i].strikes || a.nodes[i].vols != b.nodes[i].vols ||
            a.nodes[i].forward != b.nodes[i].forward)
            return false;
    return true;
}

Result<SwaptionCube> build_cube(const CubeQuotes& q, Cancel& cancel) {
    const std::size_t ne = q.expiries.size(), nt = q.tenors.size(), ns = q.strikes.size();
    if (ne == 0 || nt == 0) return invalid("SwaptionCube: needs at least one expiry and one tenor");
    if (ns < 3) return invalid("SwaptionCube: needs at least 3 strikes to fit alpha, rho and nu");
    if (q.vols.size() != ne * nt * ns)
        return bad_argument("SwaptionCube: " + std::to_string(q.vols.size()) + " vols for " + std::to_string(ne) +
                            " expiries x " + std::to_string(nt) + " tenors x " + std::to_string(ns) + " strikes");
    const bool given = !q.forwards.empty();
    if (given && (q.forwards.size() != ne * nt || q.times.size() != ne * nt))
        return bad_argument("SwaptionCube: " + std::to_string(q.forwards.size()) + " forwards for " +
                            std::to_string(ne * nt) + " nodes");
    if (!given && !q.curve) return invalid("SwaptionCube: needs curve= for each node's forward swap rate");
    if (!given && q.curve->dating().reference != q.reference)
        return invalid("SwaptionCube: the curve's reference date differs from reference_date");
    QUELM_CHECK(check_quoting({q.model, q.model == VolModel::Bachelier ? 0.0 : q.shift}));
    if (!std::isfinite(q.shift)) return invalid("SwaptionCube: shift must be finite");
    if (!(q.beta >= 0.0 && q.beta <= 1.0)) return invalid("SwaptionCube: beta must be in [0, 1]");

    SwaptionCube c;
    c.reference = q.reference;
    c.expiries = q.expiries;
    c.tenors = q.tenors;
    c.model = q.model;
    c.beta = q.beta;
    c.shift = q.shift;
    c.strikes = q.strikes;
    for (const dates::Tenor e : q.expiries) c.expiry_years.push_back(nominal_years(e));
    for (const dates::Tenor t : q.tenors) c.tenor_years.push_back(nominal_years(t));
    for (const auto* grid : {&c.expiry_years, &c.tenor_years})
        for (std::size_t i = 1; i < grid->size(); ++i)
            if (!((*grid)[i] > (*grid)[i - 1]))
                return invalid("SwaptionCube: expiries and tenors must each be strictly increasing");
    c.nodes.resize(ne * nt);
    for (std::size_t i = 0; i < ne; ++i)
        for (std::size_t j = 0; j < nt; ++j) {
            CubeNode& n = c.nodes[i * nt + j];
            n.expiry = q.expiries[i];
            n.tenor = q.tenors[j];
            if (given) {
                n.t = q.times[i * nt + j];
                n.forward = q.forwards[i * nt + j];
                if (!std::isfinite(n.t) || !(n.t > 0.0) || !std::isfinite(n.forward))
                    return invalid("SwaptionCube: " + node_name(n.expiry, n.tenor) + ": needs a finite forward and t > 0");
            }
            n.vols.assign(q.vols.begin() + static_cast<std::ptrdiff_t>((i * nt + j) * ns),
                          q.vols.begin() + static_cast<std::ptrdiff_t>((i * nt + j + 1) * ns));
        }
    // Each node's forward and fit in its own slot on the pool; the errors are then told in the
    // nodes' order, a forward the curve cannot price before any fit.
    std::vector<std::optional<Error>> forward_failures(c.nodes.size()), fit_failures(c.nodes.size());
    const auto name = [](const CubeNode& n, const Error& e) {
        return Error{e.kind, "SwaptionCube: " + node_name(n.expiry, n.tenor) + ": " + e.text};
    };
    const bool done = parallel_for(
        c.nodes.size(),
        [&](std::size_t begin, std::size_t end) {
            for (std::size_t i = begin; i < end; ++i) {
                if (chunk_stopped(4096)) return;
                CubeNode& n = c.nodes[i];
                if (!given) {
                    Swaption s;
                    s.expiry = n.expiry;
                    s.tenor = n.tenor;
                    if (auto ok = check(s); !ok) {
                        forward_failures[i] = ok.error();
                        continue;
                    }
                    auto terms = swaption_terms(s, {q.curve, nullptr});
                    if (!terms) {
                        forward_failures[i] = name(n, terms.error());
                        continue;
                    }
                    n.t = terms->t;
                    n.forward = terms->forward;
                }
                n.strikes.resize(ns);
                for (std::size_t k = 0; k < ns; ++k)
                    n.strikes[k] = q.strikes[k].offset ? n.forward + q.strikes[k].value : q.strikes[k].value;
                auto fit = fit_node(c, n, n.vols);
                if (!fit) {
                    fit_failures[i] = name(n, fit.error());
                    continue;
                }
                n.fit = std::move(*fit);
            }
        },
        cancel);
    if (!done) return cancelled();
    for (const auto* failures : {&forward_failures, &fit_failures})
        for (const auto& f : *failures)
            if (f) return std::unexpected(*f);
    return c;
}

CubeCorners cube_corners(const SwaptionCube& c, double expiry_years, double tenor_years) {
    const std::size_t nt = c.tenors.size();
    const Bracket e = bracket(c.expiry_years, expiry_years), t = bracket(c.tenor_years, tenor_years);
    const std::size_t e1 = std::min(e.i + 1, c.expiries.size() - 1), t1 = std::min(t.i + 1, nt - 1);
    CubeCorners out{{e.i * nt + t.i, e.i * nt + t1, e1 * nt + t.i, e1 * nt + t1},
                    {(1 - e.w) * (1 - t.w), (1 - e.w) * t.w, e.w * (1 - t.w), e.w * t.w},
                    0.0};
    for (int k = 0; k < 4; ++k) out.forward += out.weight[k] * c.nodes[out.node[k]].forward;
    return out;
}

Result<double> cube_vol(const SwaptionCube& c, double expiry_years, double tenor_years, double strike) {
    if (!std::isfinite(expiry_years) || !std::isfinite(tenor_years) || !std::isfinite(strike))
        return invalid("SwaptionCube.vol: expiry, tenor and strike must be finite");
    const CubeCorners at = cube_corners(c, expiry_years, tenor_years);
    const CubeNode* corner[4] = {&c.nodes[at.node[0]], &c.nodes[at.node[1]], &c.nodes[at.node[2]],
                                 &c.nodes[at.node[3]]};
    const double* w = at.weight;
    const double forward = at.forward;
    double vol = 0.0;
    for (int k = 0; k < 4; ++k) {
        if (w[k] == 0.0) continue;
        auto v = node_vol(c, *corner[k], strike - forward + corner[k]->forward);
        if (!v) return std::unexpected(Error{v.error().kind, "SwaptionCube.vol: " + node_name(corner[k]->expiry, corner[k]->tenor) + ": " + v.error().text});
        vol += w[k] * *v;
    }
    return vol;
}

const CubeNode* cube_node(const SwaptionCube& c, dates::Tenor expiry, dates::Tenor tenor) {
    for (const CubeNode& n : c.nodes)
        if (n.expiry == expiry && n.tenor == tenor) return &n;
    return nullptr;
}

}  // namespace quelm::rates

#include "quelm/rates/cube_slopes.hpp"

#include <cmath>
#include <mutex>

namespace quelm::rates {

namespace {

constexpr double kStep = 0.01;
constexpr double kFractions[4] = {1.0, -1.0, 0.5, -0.5};

// A node's refits: per quote, its step h and the four bumped fits.
struct NodeRefits {
    std::vector<double> steps;
    std::vector<volatility::SabrParams> fits;  // 4 per quote, in kFractions order
};

Result<std::shared_ptr<const NodeRefits>> refit(const SwaptionCube& c, const CubeNode& n) {
    auto out = std::make_shared<NodeRefits>();
    for (std::size_t k = 0; k < n.vols.size(); ++k) {
        const double h = kStep * std::fabs(n.vols[k]);
        out->steps.push_back(h);
        for (const double f : kFractions) {
            std::vector<double> vols = n.vols;
            vols[k] += f * h;
            QUELM_TRY(fit, fit_node(c, n, vols));
            out->fits.push_back(fit.params);
        }
    }
    return std::shared_ptr<const NodeRefits>(std::move(out));
}

}  // namespace

// A refit missing is made outside the lock: two threads may both make it, to the same bits.
struct CubeRefits {
    std::mutex lock;
    std::vector<std::shared_ptr<const NodeRefits>> nodes;
};

std::shared_ptr<CubeRefits> new_cube_refits(std::size_t nodes) {
    auto cache = std::make_shared<CubeRefits>();
    cache->nodes.resize(nodes);
    return cache;
}

Result<std::vector<CubeSlope>> cube_vol_slopes(const SwaptionCube& c, double expiry_years, double tenor_years,
                                               double strike, CubeRefits& cache) {
    const CubeCorners at = cube_corners(c, expiry_years, tenor_years);
    std::vector<CubeSlope> out;
    for (int corner = 0; corner < 4; ++corner) {
        if (at.weight[corner] == 0.0) continue;
        const std::size_t i = at.node[corner];
        const CubeNode& n = c.nodes[i];
        std::shared_ptr<const NodeRefits> fits;
        {
            const std::lock_guard<std::mutex> hold(cache.lock);
            fits = cache.nodes.at(i);
        }
        if (!fits) {
            QUELM_TRY(made, refit(c, n));
            const std::lock_guard<std::mutex> hold(cache.lock);
            cache.nodes[i] = made;
            fits = std::move(made);
        }
        // The node is read at the strike's offset from the interpolated forward.
        const double k_node = strike - at.forward + n.forward;
        for (std::size_t k = 0; k < n.vols.size(); ++k) {
            double v[4];
            for (std::size_t j = 0; j < 4; ++j) {
                QUELM_TRY(x, node_smile_vol(c, n, fits->fits[4 * k + j], k_node));
                v[j] = x;
            }
            const double h = fits->steps[k];
            const double wide = (v[0] - v[1]) / (2.0 * h), narrow = (v[2] - v[3]) / h;
            const double slope = at.weight[corner] * (4.0 * narrow - wide) / 3.0;
            bool merged = false;
            for (CubeSlope& s : out)
                if (s.node == i && s.strike == k) s.slope += slope, merged = true;
            if (!merged) out.push_back({i, k, slope});
        }
    }
    return out;
}

}  // namespace quelm::rates

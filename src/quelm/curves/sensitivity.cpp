#include "quelm/curves/sensitivity.hpp"

namespace quelm::curves {

namespace {

Status read_one(const YieldCurve& c, std::span<const dates::Serial> dates, std::vector<double>& times,
                std::vector<double>& dfs) {
    times.resize(dates.size());
    dfs.resize(dates.size());
    for (std::size_t i = 0; i < dates.size(); ++i) {
        QUELM_TRY(t, c.time_of(dates[i]));
        QUELM_TRY(p, c.discount_on(dates[i]));
        times[i] = t;
        dfs[i] = p;
    }
    return {};
}

}  // namespace

Result<Reading> read_curves(const Layout& l, const CurvePair& curves) {
    Reading r;
    QUELM_CHECK(read_one(*curves.projection, l.proj, r.tp, r.dp));
    QUELM_CHECK(read_one(*curves.discount, l.disc, r.td, r.dd));
    return r;
}

Status chain_to_nodes(const CurveGradient& g, std::span<const double> times, std::span<const double> dfs,
                      std::span<const double> adjoint, std::span<double> node_grad) {
    for (std::size_t i = 0; i < times.size(); ++i) {
        if (adjoint[i] == 0.0) continue;
        QUELM_CHECK(g.add(times[i], adjoint[i] * dfs[i], node_grad));
    }
    return {};
}

}  // namespace quelm::curves

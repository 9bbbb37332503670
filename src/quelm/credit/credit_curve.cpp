#include "quelm/credit/credit_curve.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "quelm/core/math/elementary.hpp"

namespace quelm::credit {

Result<CreditCurve> CreditCurve::from_hazards(Serial trade_date, std::span<const Serial> nodes,
                                              std::span<const double> hazards) {
    QUELM_CHECK(dates::check_range(trade_date, "trade_date"));
    if (nodes.empty()) return invalid("credit curve: needs at least one node");
    if (nodes.size() != hazards.size())
        return invalid("credit curve: " + std::to_string(nodes.size()) + " nodes but " +
                       std::to_string(hazards.size()) + " hazard rates");
    CreditCurve c;
    c.trade_date_ = trade_date;
    double prev_t = 0.0, h_cum = 0.0;
    Serial prev = trade_date;
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        if (nodes[i] <= prev)
            return invalid(i == 0 ? std::string("credit curve: nodes must be after the trade date")
                                  : "credit curve: node dates must increase (node " + std::to_string(i) + ")");
        if (!std::isfinite(hazards[i]) || hazards[i] < 0.0)
            return invalid("credit curve: hazard rate " + std::to_string(i) + " must be finite and >= 0");
        QUELM_CHECK(dates::check_range(nodes[i], "node"));
        const double t = c.time_of(nodes[i]);
        h_cum += hazards[i] * (t - prev_t);
        c.nodes_.push_back(nodes[i]);
        c.times_.push_back(t);
        c.hazards_.push_back(hazards[i]);
        c.cumulative_.push_back(h_cum);
        prev = nodes[i];
        prev_t = t;
    }
    return c;
}

Result<CreditCurve> CreditCurve::flat(Serial trade_date, double hazard) {
    const Serial node = trade_date + 365;
    return from_hazards(trade_date, std::span<const Serial>(&node, 1), std::span<const double>(&hazard, 1));
}

std::size_t CreditCurve::segment(double t) const {
    // The first node at or after t; the last interval beyond the last node.
    const auto it = std::lower_bound(times_.begin(), times_.end(), t);
    const auto i = static_cast<std::size_t>(it - times_.begin());
    return i < times_.size() ? i : times_.size() - 1;
}

Status CreditCurve::check_date(Serial d) const {
    if (d < trade_date_)
        return invalid("credit curve: " + dates::format_iso(d) + " is before the trade date " +
                       dates::format_iso(trade_date_));
    return {};
}

Result<double> CreditCurve::survival(Serial d) const {
    QUELM_CHECK(check_date(d));
    return quelm::exp(-integrated_hazard(time_of(d)));
}

Result<double> CreditCurve::hazard(Serial d) const {
    QUELM_CHECK(check_date(d));
    return hazards_[segment(time_of(d))];
}

Result<double> CreditCurve::default_density(Serial d) const {
    QUELM_CHECK(check_date(d));
    const double t = time_of(d);
    return hazards_[segment(t)] * quelm::exp(-integrated_hazard(t));
}

CreditCurve CreditCurve::with_quotes(std::shared_ptr<const CurveQuotes> q) const {
    CreditCurve c = *this;
    c.quotes_ = std::move(q);
    return c;
}

}  // namespace quelm::credit

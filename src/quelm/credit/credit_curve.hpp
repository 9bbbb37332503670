// A credit curve as the ISDA standard model holds it: survival Q(t) = exp(-H(t)) with the
// integrated hazard H linear in t between node dates, so the forward hazard is constant on
// each interval (t[i-1], t[i]] and, after the last node, continues as the last one. Times
// are act/365f years from the trade date (the curve's t = 0, Q = 1).
#pragma once

#include <memory>
#include <span>
#include <vector>

#include "quelm/core/error.hpp"
#include "quelm/dates/serial.hpp"

namespace quelm::credit {

using dates::Serial;

struct CurveQuotes;  // what a bootstrapped curve was built from (bootstrap.hpp)

// H(t) over node times, hazards and H at each node (the curve's, or a bootstrap's as it
// builds): H linear between nodes, the last hazard continued beyond.
struct HazardView {
    std::span<const double> times, hazards, cumulative;
    [[nodiscard]] double integrated(double t) const {
        std::size_t i = 0;
        const std::size_t n = times.size();
        while (i + 1 < n && times[i] < t) ++i;
        const double t0 = i == 0 ? 0.0 : times[i - 1];
        const double h0 = i == 0 ? 0.0 : cumulative[i - 1];
        return h0 + hazards[i] * (t - t0);
    }
};

class CreditCurve {
public:
    // Piecewise-constant hazards: hazards[i] on (node[i-1], node[i]] (the first from the
    // trade date), node dates strictly increasing after the trade date, hazards >= 0.
    [[nodiscard]] static Result<CreditCurve> from_hazards(Serial trade_date, std::span<const Serial> nodes,
                                                          std::span<const double> hazards);
    [[nodiscard]] static Result<CreditCurve> flat(Serial trade_date, double hazard);

    [[nodiscard]] Serial trade_date() const { return trade_date_; }
    [[nodiscard]] std::span<const Serial> nodes() const { return nodes_; }
    [[nodiscard]] std::span<const double> hazards() const { return hazards_; }

    [[nodiscard]] double time_of(Serial d) const { return static_cast<double>(d - trade_date_) / 365.0; }
    // H(t) and its queries at dates on or after the trade date.
    [[nodiscard]] double integrated_hazard(double t) const { return view().integrated(t); }
    [[nodiscard]] HazardView view() const { return {times_, hazards_, cumulative_}; }
    [[nodiscard]] Result<double> survival(Serial d) const;
    // The forward hazard at d: the one of the interval that ends at or after it.
    [[nodiscard]] Result<double> hazard(Serial d) const;
    // -dQ/dt at d: hazard times survival.
    [[nodiscard]] Result<double> default_density(Serial d) const;

    [[nodiscard]] const std::shared_ptr<const CurveQuotes>& quotes() const { return quotes_; }
    [[nodiscard]] CreditCurve with_quotes(std::shared_ptr<const CurveQuotes> q) const;

    friend bool operator==(const CreditCurve& a, const CreditCurve& b) {
        return a.trade_date_ == b.trade_date_ && a.nodes_ == b.nodes_ && a.hazards_ == b.hazards_;
    }

private:
    CreditCurve() = default;
    [[nodiscard]] Status check_date(Serial d) const;
    [[nodiscard]] std::size_t segment(double t) const;

    Serial trade_date_ = 0;
    std::vector<Serial> nodes_;
    std::vector<double> times_, hazards_, cumulative_;  // cumulative_[i] = H(times_[i])
    std::shared_ptr<const CurveQuotes> quotes_;
};

}  // namespace quelm::credit

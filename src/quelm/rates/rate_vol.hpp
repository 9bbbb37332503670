// A vol for rate options as a market holds it: a flat vol or a term structure (VolTerm) in
// one quoting (Black, shifted Black with its shift, or Bachelier).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "quelm/core/error.hpp"
#include "quelm/rates/cap_floor.hpp"
#include "quelm/rates/optionlet.hpp"

namespace quelm::rates {

struct RateVol {
    VolTerm vol;
    Quoting quoting;
    friend bool operator==(const RateVol&, const RateVol&) = default;
};

[[nodiscard]] Status check(const RateVol& v);
// "RateVol(0.2)", "RateVol(([1.0, 2.0], [0.2, 0.25]), model='bachelier')".
[[nodiscard]] std::string describe(const RateVol& v);

// d vol / d each vol of a term structure, at time t (VolTerm::at: linear in total variance
// between its times, flat outside): the one or two vols it reads, by index.
struct VolTermSlope {
    std::size_t index = 0;
    double slope = 0.0;
};
[[nodiscard]] std::vector<VolTermSlope> vol_term_slopes(const VolTerm& v, double t);

}  // namespace quelm::rates

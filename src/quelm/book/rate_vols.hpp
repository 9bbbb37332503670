// A market's vols for swaptions and caps, by name: a RateVol (a flat vol or a term structure
// in one quoting) or a swaption cube (SABR per expiry × tenor, its model, beta and shift its
// own). Neither reads the market's curves: a cube keeps the forwards it was calibrated on,
// so under a curve shift the vols stay where they are.
#pragma once

#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "quelm/rates/cube_slopes.hpp"
#include "quelm/rates/hull_white.hpp"
#include "quelm/rates/rate_vol.hpp"
#include "quelm/rates/swaption_cube.hpp"

namespace quelm::book {

struct RateVols {
    // A Hull-White model lends its a and sigma to Bermudan swaptions; they are priced on the
    // market's curve, not the model's own.
    std::variant<rates::RateVol, rates::SwaptionCube, rates::HullWhite> vol;
    // A cube's refits for its quote slopes, shared by every trade priced on it (not part
    // of the value).
    std::shared_ptr<rates::CubeRefits> refits;
    friend bool operator==(const RateVols& a, const RateVols& b) { return a.vol == b.vol; }
};

[[nodiscard]] RateVols rate_vols_of(rates::RateVol v);
[[nodiscard]] RateVols rate_vols_of(rates::SwaptionCube c);
[[nodiscard]] RateVols rate_vols_of(rates::HullWhite m);

// The risk report's labels of a rate vol's quotes, in column order: "<name> vol" for a flat
// vol, "<name> vol <t>y" per time of a term structure, and per node and strike column of a
// cube "<name> <expiry> <tenor> <strike>" ("eur-swaption 5y 10y atm+25"), expiry-major; for a
// Hull-White model "<name> sigma" (per basis point of sigma).
[[nodiscard]] std::vector<std::string> rate_vol_labels(const std::string& name, const RateVols& v);

}  // namespace quelm::book

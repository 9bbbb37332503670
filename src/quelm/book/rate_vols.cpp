#include "quelm/book/rate_vols.hpp"

#include <cstdio>

#include "quelm/book/book_risk.hpp"
#include "quelm/curves/instrument.hpp"

namespace quelm::book {

namespace {

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::string strike_text(const rates::CubeStrike& k) {
    char text[40];
    if (!k.offset) {
        std::snprintf(text, sizeof text, "%.6g", k.value);
        return text;
    }
    if (k.value == 0.0) return "atm";
    std::snprintf(text, sizeof text, "atm%+.6g", k.value * 1e4);
    return text;
}

}  // namespace

RateVols rate_vols_of(rates::RateVol v) { return RateVols{std::move(v), nullptr}; }

RateVols rate_vols_of(rates::HullWhite m) { return RateVols{std::move(m), nullptr}; }

RateVols rate_vols_of(rates::SwaptionCube c) {
    const std::size_t nodes = c.nodes.size();
    return RateVols{std::move(c), rates::new_cube_refits(nodes)};
}

std::vector<std::string> rate_vol_labels(const std::string& name, const RateVols& v) {
    std::vector<std::string> out;
    if (const auto* r = std::get_if<rates::RateVol>(&v.vol)) {
        if (r->vol.times.empty()) return {name + " vol"};
        for (const double t : r->vol.times) out.push_back(slice_label(name, t));
        return out;
    }
    if (std::holds_alternative<rates::HullWhite>(v.vol)) return {name + " sigma"};
    const auto& c = std::get<rates::SwaptionCube>(v.vol);
    for (const rates::CubeNode& n : c.nodes)
        for (const rates::CubeStrike& k : c.strikes)
            out.push_back(name + " " + lower(curves::tenor_text(n.expiry)) + " " + lower(curves::tenor_text(n.tenor)) +
                          " " + strike_text(k));
    return out;
}

}  // namespace quelm::book

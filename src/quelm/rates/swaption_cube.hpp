// A swaption vol cube: quotes at expiries × tenors × strikes, a SABR smile calibrated at
// each expiry × tenor node (on the node's forward swap rate from a curve), and vols read
// between nodes. Quotes are Black, shifted Black or normal (Bachelier) vols, each fitted by
// the matching expansion of volatility/sabr.hpp; strikes are absolute or offsets from each
// node's forward ("ATM+25": 25 basis points above it).
#pragma once

#include <cstddef>
#include <span>
#include <string_view>
#include <vector>

#include "quelm/core/cancel.hpp"
#include "quelm/core/error.hpp"
#include "quelm/curves/curve.hpp"
#include "quelm/dates/tenor.hpp"
#include "quelm/rates/optionlet.hpp"
#include "quelm/volatility/sabr_calibrate.hpp"

namespace quelm::rates {

// A strike column: an absolute rate, or an offset (a decimal) from each node's forward.
struct CubeStrike {
    bool offset = false;
    double value = 0.0;
    friend bool operator==(const CubeStrike&, const CubeStrike&) = default;
};
// "ATM", "ATM+25", "atm-12.5" (offsets in basis points).
[[nodiscard]] Result<CubeStrike> parse_cube_strike(std::string_view text);

struct CubeNode {
    dates::Tenor expiry, tenor;
    double t = 0.0;        // option time, act/365f to the expiry date
    double forward = 0.0;  // the forward swap rate
    std::vector<double> strikes, vols;  // absolute strikes and their quotes
    volatility::SabrCalibration fit;
};

struct CubeQuotes {
    dates::Serial reference = 0;
    std::vector<dates::Tenor> expiries, tenors;
    std::vector<CubeStrike> strikes;
    std::vector<double> vols;  // expiry-major, then tenor, then strike
    VolModel model = VolModel::Bachelier;
    double beta = 0.5, shift = 0.0;
    const curves::YieldCurve* curve = nullptr;
    // In place of a curve: each node's forward and option time, expiry-major (a cube
    // rebuilt from what it holds, as a pickle does).
    std::vector<double> forwards, times;
};

struct SwaptionCube {
    dates::Serial reference = 0;
    std::vector<dates::Tenor> expiries, tenors;
    std::vector<double> expiry_years, tenor_years;  // nominal: months / 12, where vols are read
    std::vector<CubeStrike> strikes;                // the strike columns as quoted
    VolModel model = VolModel::Bachelier;
    double beta = 0.5, shift = 0.0;
    std::vector<CubeNode> nodes;  // expiry-major
    friend bool operator==(const SwaptionCube& a, const SwaptionCube& b);
};

// Calibrates every node (on the pool, each node its own slot: the same bits on any thread
// count). Errors name the node.
[[nodiscard]] Result<SwaptionCube> build_cube(const CubeQuotes& q, Cancel& cancel);

// The vol at an expiry and a tenor (in years, nominal) and an absolute strike: the four
// nodes around it (flat beyond the grid) read at the same offset from their forwards as
// the strike from the forward there, weighted bilinearly.
[[nodiscard]] Result<double> cube_vol(const SwaptionCube& c, double expiry_years, double tenor_years, double strike);
// A tenor in nominal years (months / 12), as the cube reads its grid.
[[nodiscard]] double nominal_years(dates::Tenor t);

// The nodes a vol at (expiry, tenor) reads (indices into nodes, flat beyond the grid), their
// bilinear weights and the forward interpolated with them.
struct CubeCorners {
    std::size_t node[4] = {0, 0, 0, 0};
    double weight[4] = {0.0, 0.0, 0.0, 0.0};
    double forward = 0.0;
};
[[nodiscard]] CubeCorners cube_corners(const SwaptionCube& c, double expiry_years, double tenor_years);

// A node's SABR fit to quotes `vols` (at its strikes), as build_cube fits it.
[[nodiscard]] Result<volatility::SabrCalibration> fit_node(const SwaptionCube& c, const CubeNode& n,
                                                           std::span<const double> vols);
// The vol of a node's smile with parameters p at an absolute strike.
[[nodiscard]] Result<double> node_smile_vol(const SwaptionCube& c, const CubeNode& n, const volatility::SabrParams& p,
                                            double strike);

// A node by its tenors (none: not a node).
[[nodiscard]] const CubeNode* cube_node(const SwaptionCube& c, dates::Tenor expiry, dates::Tenor tenor);

}  // namespace quelm::rates

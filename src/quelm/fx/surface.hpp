// FX smiles over expiries: the vol at (strike, t) from total variance interpolated linearly
// in time at fixed log-moneyness ln(K / F(t)), ln F linear in t between the smiles' forwards.
// Before the first expiry and after the last the vol at that moneyness is held flat.
#pragma once

#include <span>
#include <vector>

#include "quelm/core/error.hpp"
#include "quelm/fx/smile.hpp"

namespace quelm::fx {

class FxVolSurface {
public:
    // At least one smile, expiries distinct (sorted here), one spot.
    [[nodiscard]] static Result<FxVolSurface> from_smiles(std::vector<FxSmile> smiles);

    // strike > 0, t > 0.
    [[nodiscard]] Result<double> vol(double strike, double t) const;
    [[nodiscard]] Result<double> forward(double t) const;

    [[nodiscard]] std::span<const FxSmile> smiles() const { return smiles_; }
    friend bool operator==(const FxVolSurface& a, const FxVolSurface& b) { return a.smiles_ == b.smiles_; }

private:
    FxVolSurface() = default;
    [[nodiscard]] double forward_at(double t) const;
    std::vector<FxSmile> smiles_;
};

}  // namespace quelm::fx

// One option on a rate (a caplet, a floorlet, a swaption per unit of annuity) in the three
// quoting models of the rate markets: Black (lognormal), shifted Black (lognormal in the
// rate plus a shift, so negative rates price) and Bachelier (normal). Prices are
// undiscounted, per unit of accrual × discount (or annuity); rates are decimals, vols
// annual (a normal vol in rate units per sqrt(year)), t the time to the fixing in years.
#pragma once

#include <cstdint>
#include <string_view>

#include "quelm/core/choice.hpp"
#include "quelm/core/error.hpp"

namespace quelm::rates {

enum class VolModel : std::uint8_t { Black, ShiftedBlack, Bachelier };

inline constexpr Choices<VolModel, 4> kVolModels{
    "model",
    Listing::Quoted,
    {{{"black", VolModel::Black},
      {"shifted-black", VolModel::ShiftedBlack},
      {"bachelier", VolModel::Bachelier},
      {"normal", VolModel::Bachelier}}},
    true,
    true,
};

// The model with its shift: the shift only moves the rates of shifted Black.
struct Quoting {
    VolModel model = VolModel::Black;
    double shift = 0.0;
    friend bool operator==(const Quoting&, const Quoting&) = default;
};

// A shift that is finite and, for black and bachelier, zero.
[[nodiscard]] Status check_quoting(const Quoting& q);

// theta = +1 a call on the rate (caplet, payer), -1 a put (floorlet, receiver).
// Fails where the lognormal models have no price: forward + shift < 0, strike + shift <= 0;
// `what` names the option in the message.
[[nodiscard]] Result<double> optionlet(const Quoting& q, double forward, double strike, double vol, double t,
                                       double theta, std::string_view what);

// d price / d vol and d price / d forward (the forward moved, the shift kept), on inputs
// optionlet accepted.
[[nodiscard]] double optionlet_vega(const Quoting& q, double forward, double strike, double vol, double t,
                                    double theta);
[[nodiscard]] double optionlet_delta(const Quoting& q, double forward, double strike, double vol, double t,
                                     double theta);

// The vol at which optionlet gives `price` (undiscounted), by the exact inversions of
// pricing/black (Jaeckel's): t > 0, the price strictly inside the model's bounds.
[[nodiscard]] Result<double> optionlet_implied_vol(const Quoting& q, double price, double forward, double strike,
                                                   double t, double theta);

[[nodiscard]] std::string_view model_name(VolModel m);

}  // namespace quelm::rates

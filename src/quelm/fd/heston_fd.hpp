// Heston's model by finite differences on a (log-spot, variance) grid: the operator split into
// its mixed, spot and variance parts, stepped by an ADI scheme (Douglas, Craig-Sneyd, modified
// Craig-Sneyd or Hundsdorfer-Verwer), the first step as damped Douglas half steps. European or
// American (the payoff floor imposed in each step's last sweep, the spot direction's, by
// Brennan-Schwartz), with a single knock-out or knock-in barrier on the spot. Times in years,
// rates continuously compounded, v0 and theta variances.
#pragma once

#include <cstdint>
#include <optional>

#include "quelm/core/cancel.hpp"
#include "quelm/core/choice.hpp"
#include "quelm/core/error.hpp"
#include "quelm/pricing/barrier.hpp"
#include "quelm/pricing/binomial.hpp"
#include "quelm/pricing/option.hpp"
#include "quelm/volatility/heston.hpp"

namespace quelm::fd {

enum class AdiScheme : unsigned char { Douglas, CraigSneyd, ModifiedCraigSneyd, HundsdorferVerwer };

// Lower-cased, "_" read as "-".
inline constexpr Choices<AdiScheme, 8> kAdiSchemes{
    "scheme", Listing::Quoted,
    {{{"douglas", AdiScheme::Douglas}, {"do", AdiScheme::Douglas}, {"craig-sneyd", AdiScheme::CraigSneyd},
      {"cs", AdiScheme::CraigSneyd}, {"modified-craig-sneyd", AdiScheme::ModifiedCraigSneyd},
      {"mcs", AdiScheme::ModifiedCraigSneyd}, {"hundsdorfer-verwer", AdiScheme::HundsdorferVerwer},
      {"hv", AdiScheme::HundsdorferVerwer}}},
    true, true};

struct HestonFdContract {
    double strike;  // the expiry is the market's t
    OptionType type;
    pricing::ExerciseStyle style = pricing::ExerciseStyle::European;
    std::optional<pricing::BarrierType> barrier_type;  // given together with the barrier
    std::optional<double> barrier;
};

struct HestonFdSettings {
    std::optional<std::uint64_t> space_steps, variance_steps, time_steps;
    AdiScheme scheme = AdiScheme::HundsdorferVerwer;
};

// vega is the derivative in the initial volatility sqrt(v0).
struct HestonFdResult {
    double price, delta, gamma, vega;
};

inline constexpr std::uint64_t kDefaultHestonSpaceSteps = 300, kDefaultHestonVarianceSteps = 40,
                               kDefaultHestonTimeSteps = 60;

[[nodiscard]] Result<HestonFdResult> fd_heston_price(const HestonFdContract& o, const volatility::HestonMarket& m,
                                                     const volatility::HestonParams& p, const HestonFdSettings& s,
                                                     Cancel& cancel = never_cancel());

}  // namespace quelm::fd

// One-factor finite differences in log-spot: European and American vanillas, single
// knock-out and knock-in barriers with a rebate, discrete cash dividends, and a local
// volatility from a VolSurface. Crank-Nicolson (or fully implicit) steps, the first of each
// stretch between dividends replaced by implicit half steps (Rannacher), American exercise by
// the Brennan-Schwartz projection, Richardson extrapolation over a doubled grid on request.
// Times in years, rates and yields continuously compounded, vol annual.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "quelm/core/cancel.hpp"
#include "quelm/core/choice.hpp"
#include "quelm/core/error.hpp"
#include "quelm/pricing/barrier.hpp"
#include "quelm/pricing/binomial.hpp"
#include "quelm/pricing/option.hpp"
#include "quelm/volatility/surface.hpp"

namespace quelm::fd {

enum class Scheme : unsigned char { CrankNicolson, Implicit };

// "crank-nicolson"/"cn" or "implicit"/"euler" after ASCII lower-casing.
inline constexpr Choices<Scheme, 4> kSchemes{
    "scheme", Listing::Quoted,
    {{{"crank-nicolson", Scheme::CrankNicolson}, {"cn", Scheme::CrankNicolson}, {"implicit", Scheme::Implicit},
      {"euler", Scheme::Implicit}}}};

// A cash dividend of `amount` paid at time t: the spot drops by it (S -> S - amount).
struct CashDividend {
    double t, amount;
};

struct FdContract {
    double strike, expiry;
    OptionType type;
    pricing::ExerciseStyle style = pricing::ExerciseStyle::European;
    std::optional<pricing::BarrierType> barrier_type;  // given together with the barrier
    std::optional<double> barrier;                     // price units
    // Paid when a knock-out barrier is touched, or at expiry by a knock-in that never came alive.
    double rebate = 0.0;
};

struct FdModel {
    double spot, rate, vol, dividend_yield;
    std::span<const CashDividend> dividends;           // any order; those after expiry do nothing
    const volatility::VolSurface* local_vol = nullptr;  // replaces vol when given
};

struct FdSettings {
    std::optional<std::uint64_t> space_steps, time_steps;  // defaults reach 1e-4 relative
    Scheme scheme = Scheme::CrankNicolson;
    bool extrapolate = false;
    // The volatility that sets the grid's width (default: the model's): solves bumped in
    // volatility keep one grid, so their difference is smooth.
    std::optional<double> grid_vol;
};

struct FdResult {
    double price, delta, gamma, theta;
};

// The defaults: space steps and time steps of one solve.
inline constexpr std::uint64_t kDefaultSpaceSteps = 400, kDefaultTimeSteps = 100;

[[nodiscard]] Result<FdResult> fd_price(const FdContract& o, const FdModel& m, const FdSettings& s,
                                        Cancel& cancel = never_cancel());

}  // namespace quelm::fd

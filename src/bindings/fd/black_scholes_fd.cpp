// Python bindings: fd_price and its array form.
#include "frame/declare.hpp"
#include "frame/registry.hpp"
#include "bindings/instances.hpp"
#include "bindings/string_options.hpp"
#include "bindings/pricing/vanilla_params.hpp"
#include "quelm/fd/black_scholes_fd.hpp"

#include <optional>
#include <vector>

namespace quelm::py {

constexpr Section kSection = Section::Options;
constexpr std::string_view kGuide = "finite-differences";  // the guide page of its names

namespace {

constinit const auto kFdResult = record<fd::FdResult>({
    QUELM_FIELD(fd::FdResult, price), QUELM_FIELD(fd::FdResult, delta), QUELM_FIELD(fd::FdResult, gamma),
    QUELM_FIELD(fd::FdResult, theta),
});

}  // namespace

QUELM_RECORD(fd::FdResult, kFdResult, "FdResult");

// A VolSurface argument (its local volatility prices the option).
using SurfaceArg = InstanceOf<volatility::VolSurface>;

template <>
struct Annotation<SurfaceArg> {
    static const char* param() { return "VolSurface"; }
};

namespace {

using pricing::BarrierType;
using pricing::ExerciseStyle;

fd::FdContract contract_of(double strike, double t, OptionType type, ExerciseStyle style,
                           std::optional<double> barrier, std::optional<BarrierType> barrier_type, double rebate) {
    return {.strike = strike, .expiry = t, .type = type, .style = style, .barrier_type = barrier_type,
            .barrier = barrier, .rebate = rebate};
}

Result<fd::FdResult> fd_price_of(double spot, double strike, double rate, double vol, double t, OptionType type,
                                 double q, ExerciseStyle style, std::optional<double> barrier,
                                 std::optional<BarrierType> barrier_type, double rebate,
                                 const std::optional<FloatMatrix>& dividends,
                                 const std::optional<SurfaceArg>& local_vol,
                                 std::optional<std::uint64_t> space_steps, std::optional<std::uint64_t> time_steps,
                                 fd::Scheme scheme, bool extrapolate, Cancel& cancel) {
    std::vector<fd::CashDividend> cash;
    if (dividends) {
        for (std::span<const double> row : dividends->rows()) {
            if (row.size() != 2) return invalid("dividends must be (time, amount) pairs");
            cash.push_back({row[0], row[1]});
        }
    }
    const fd::FdModel model{.spot = spot, .rate = rate, .vol = vol, .dividend_yield = q, .dividends = cash,
                            .local_vol = local_vol ? local_vol->value : nullptr};
    return fd::fd_price(contract_of(strike, t, type, style, barrier, barrier_type, rebate), model,
                        {.space_steps = space_steps, .time_steps = time_steps, .scheme = scheme,
                         .extrapolate = extrapolate, .grid_vol = std::nullopt},
                        cancel);
}

// The array form: the same solve per element, without the per-option lists (dividends, a
// surface) and Richardson's switch, which an array does not carry.
Result<fd::FdResult> fd_price_element(double spot, double strike, double rate, double vol, double t,
                                      OptionType type, double q, ExerciseStyle style, std::optional<double> barrier,
                                      std::optional<BarrierType> barrier_type, double rebate,
                                      std::optional<std::uint64_t> space_steps,
                                      std::optional<std::uint64_t> time_steps, fd::Scheme scheme, Cancel& cancel) {
    const fd::FdModel model{.spot = spot, .rate = rate, .vol = vol, .dividend_yield = q, .dividends = {}};
    return fd::fd_price(contract_of(strike, t, type, style, barrier, barrier_type, rebate), model,
                        {.space_steps = space_steps, .time_steps = time_steps, .scheme = scheme, .extrapolate = false,
                         .grid_vol = std::nullopt},
                        cancel);
}

constexpr ParamList kFdHead = kVanillaParams + ParamList{"*", {"style", "\"european\""}, {"barrier", "None"},
                                                           {"barrier_type", "None"}, {"rebate", "0.0"}};
constexpr ParamList kFdGrid{{"space_steps", "None"}, {"time_steps", "None"}, {"scheme", "\"crank-nicolson\""}};

constexpr FunctionDef def_fd_price = typed<&fd_price_of>(
    "fd_price",
    kFdHead + ParamList{{"dividends", "None"}, {"local_vol", "None"}} + kFdGrid +
        ParamList{{"extrapolate", "False"}},
    "Price an option by finite differences in log-spot, returning its price, delta, gamma\n"
    "and theta (per year of calendar time).\n"
    "\n"
    "European or American (`style`), optionally with a continuously monitored barrier\n"
    "(`barrier_type` \"down-out\", \"up-out\", \"down-in\", \"up-in\"; a knock-in is the vanilla\n"
    "less the knock-out on the same grid) and a `rebate` paid when a knock-out barrier is\n"
    "touched, or at expiry when a knock-in never came alive. `dividends` lists cash\n"
    "dividends `[(t, amount), ...]` (the spot drops by each on its date); `local_vol` a\n"
    "`VolSurface`, whose Dupire local volatility replaces `vol`. The grid is a sinh-stretched\n"
    "log-spot grid with the strike and barrier on nodes; Crank-Nicolson with four implicit\n"
    "half steps at the start of each stretch between dividends; American exercise by the\n"
    "Brennan-Schwartz projection. The defaults (400 space steps, 100 time steps) reach about\n"
    "1e-4 relative on standard problems; `extrapolate=True` adds a solve on the doubled grid\n"
    "and takes Richardson's combination.\n"
    "\n"
    "```python\n"
    "import quelm\n"
    "quelm.fd_price(100, 100, 0.03, 0.15, 1.0, \"put\", style=\"american\")\n"
    "```");
QUELM_PUBLIC(def_fd_price);

constexpr FunctionDef def_fd_price_vec = detail::with_form<&fd_price_element, false, nullptr>(
    typed<&fd_price_element>(
        "_fd_price_element", kFdHead + kFdGrid,
        "Price options by finite differences, one solve per element (on the pool), each with the\n"
        "bits of `fd_price` for its inputs (no dividends, local volatility or extrapolation).\n"
        "\n"
        "```python\n"
        "import numpy as np, quelm\n"
        "quelm.vec.fd_price(100, np.array([90.0, 100.0, 110.0]), 0.03, 0.15, 1.0, \"put\", style=\"american\")\n"
        "```"),
    "fd_price", nullptr, nullptr);
QUELM_PRIVATE(def_fd_price_vec);

}  // namespace

}  // namespace quelm::py

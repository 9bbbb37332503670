// Python binding: fd_heston_price.
#include "frame/declare.hpp"
#include "frame/registry.hpp"
#include "bindings/string_options.hpp"
#include "quelm/fd/heston_fd.hpp"

#include <optional>

namespace quelm::py {

constexpr Section kSection = Section::Options;
constexpr std::string_view kGuide = "finite-differences";  // the guide page of its names

namespace {

constinit const auto kHestonFdResult = record<fd::HestonFdResult>({
    QUELM_FIELD(fd::HestonFdResult, price), QUELM_FIELD(fd::HestonFdResult, delta),
    QUELM_FIELD(fd::HestonFdResult, gamma), QUELM_FIELD(fd::HestonFdResult, vega),
});

}  // namespace

QUELM_RECORD(fd::HestonFdResult, kHestonFdResult, "HestonFdResult");

namespace {

Result<fd::HestonFdResult> fd_heston_price_of(double spot, double strike, double rate, double t, OptionType type,
                                              double v0, double kappa, double theta, double xi, double rho, double q,
                                              pricing::ExerciseStyle style, std::optional<double> barrier,
                                              std::optional<pricing::BarrierType> barrier_type,
                                              std::optional<std::uint64_t> space_steps,
                                              std::optional<std::uint64_t> variance_steps,
                                              std::optional<std::uint64_t> time_steps, fd::AdiScheme scheme,
                                              Cancel& cancel) {
    return fd::fd_heston_price(
        {.strike = strike, .type = type, .style = style, .barrier_type = barrier_type, .barrier = barrier},
        {.spot = spot, .rate = rate, .dividend_yield = q, .t = t},
        {.v0 = v0, .kappa = kappa, .theta = theta, .xi = xi, .rho = rho},
        {.space_steps = space_steps, .variance_steps = variance_steps, .time_steps = time_steps, .scheme = scheme},
        cancel);
}

constexpr FunctionDef def_fd_heston_price = typed_in_vec<&fd_heston_price_of>(
    "fd_heston_price",
    {"spot", "strike", "rate", "t", "option_type", "v0", "kappa", "theta", "xi", "rho", {"dividend_yield", "0.0"},
     "*", {"style", "\"european\""}, {"barrier", "None"}, {"barrier_type", "None"}, {"space_steps", "None"},
     {"variance_steps", "None"}, {"time_steps", "None"}, {"scheme", "\"hundsdorfer-verwer\""}},
    "Price an option under Heston's model by finite differences, returning its price,\n"
    "delta, gamma and vega (the derivative in the initial volatility sqrt(v0)).\n"
    "\n"
    "A (log-spot, variance) grid, sinh-stretched about the strike and towards zero variance;\n"
    "the operator split into its mixed, spot and variance parts and stepped by an ADI scheme,\n"
    "`scheme` \"douglas\", \"craig-sneyd\", \"modified-craig-sneyd\" or \"hundsdorfer-verwer\"\n"
    "(the first step as two damped Douglas half steps). `style` \"american\" imposes the\n"
    "payoff floor in each step's last sweep (Brennan-Schwartz in the spot direction);\n"
    "`barrier_type` \"down-out\", \"up-out\", \"down-in\", \"up-in\" adds a continuously\n"
    "monitored barrier (a knock-in is the vanilla less the knock-out on the same grid).\n"
    "Defaults: 300 spot, 40 variance and 60 time steps.\n"
    "\n"
    "```python\n"
    "import quelm\n"
    "quelm.fd_heston_price(10, 10, 0.1, 0.25, \"put\", 0.0625, 5.0, 0.16, 0.9, 0.1, style=\"american\")\n"
    "```");
QUELM_PUBLIC(def_fd_heston_price);

}  // namespace

}  // namespace quelm::py

// Python bindings: garman_kohlhagen, fx_greeks, fx_forward, fx_forward_at, fx_delta,
// fx_strike_from_delta, fx_atm_strike, fx_barrier_price.
#include "frame/declare.hpp"
#include "frame/registry.hpp"
#include "bindings/fx/fx_options.hpp"
#include "bindings/instances.hpp"
#include "bindings/string_options.hpp"
#include "quelm/fx/delta.hpp"
#include "quelm/fx/forward_at.hpp"
#include "quelm/fx/garman_kohlhagen.hpp"
#include "quelm/fx/vanna_volga_barrier.hpp"

#include <optional>

namespace quelm::py {

constexpr Section kSection = Section::Options;
constexpr std::string_view kGuide = "fx";  // the guide page of its names

namespace {

using fx::FxGreeks;

constinit const auto kFxGreeks = record<FxGreeks>({
    QUELM_FIELD(FxGreeks, price),
    QUELM_FIELD(FxGreeks, spot_delta),
    QUELM_FIELD(FxGreeks, forward_delta),
    QUELM_FIELD(FxGreeks, spot_delta_pa),
    QUELM_FIELD(FxGreeks, forward_delta_pa),
    QUELM_FIELD(FxGreeks, gamma),
    QUELM_FIELD(FxGreeks, vega),
    QUELM_FIELD(FxGreeks, theta),
    QUELM_FIELD(FxGreeks, rho_domestic),
    QUELM_FIELD(FxGreeks, rho_foreign),
    QUELM_FIELD(FxGreeks, vanna),
    QUELM_FIELD(FxGreeks, volga),
});

constinit const auto kDatedForward = record<fx::DatedForward>({
    QUELM_FIELD(fx::DatedForward, forward),
    field<&fx::DatedForward::points>("forward_points"),
    QUELM_FIELD(fx::DatedForward, domestic_discount),
    QUELM_FIELD(fx::DatedForward, foreign_discount),
});

}  // namespace

QUELM_RECORD(FxGreeks, kFxGreeks, "FxGreeksResult");
QUELM_RECORD(fx::DatedForward, kDatedForward, "FxForwardResult");

namespace {

Result<double> garman_kohlhagen_of(double spot, double strike, double rd, double rf, double vol, double t,
                                   OptionType type) {
    return fx::garman_kohlhagen({spot, rd, rf, vol, t}, strike, type);
}

Result<FxGreeks> fx_greeks_of(double spot, double strike, double rd, double rf, double vol, double t,
                              OptionType type) {
    return fx::fx_greeks({spot, rd, rf, vol, t}, strike, type);
}

Result<double> fx_forward_of(double spot, double t, double rd, double rf) { return fx::fx_forward(spot, t, rd, rf); }

Result<fx::DatedForward> fx_forward_at_of(double spot, Date date, const curves::YieldCurve& domestic,
                                          const curves::YieldCurve& foreign, const std::optional<Date>& spot_date) {
    return fx::fx_forward_at(spot, date.serial, domestic, foreign,
                             spot_date ? std::optional<dates::Serial>(spot_date->serial) : std::nullopt);
}

Result<double> fx_delta_of(double spot, double strike, double rd, double rf, double vol, double t, OptionType type,
                           fx::DeltaType d) {
    return fx::fx_delta({spot, rd, rf, vol, t}, strike, type, d);
}

Result<double> fx_strike_from_delta_of(double delta, double spot, double rd, double rf, double vol, double t,
                                       OptionType type, fx::DeltaType d) {
    return fx::fx_strike_from_delta(delta, {spot, rd, rf, vol, t}, type, d);
}

Result<double> fx_atm_strike_of(double spot, double rd, double rf, double vol, double t, fx::AtmType atm,
                                fx::DeltaType d) {
    return fx::fx_atm_strike({spot, rd, rf, vol, t}, atm, d);
}

Result<double> fx_barrier_price_of(double spot, double strike, double barrier, double rd, double rf, double vol,
                                   double t, pricing::BarrierType type, OptionType option_type, double rebate) {
    return fx::flat_barrier_price({spot, rd, rf, vol, t}, {strike, barrier, type, option_type, rebate});
}

constexpr ParamList kDeltaType{"*", {"delta_type", "\"spot\""}};

}  // namespace

constexpr FunctionDef def_garman_kohlhagen = typed_in_vec<&garman_kohlhagen_of>(
    "garman_kohlhagen", kFxOptionTerms,
    "Price a European FX option by Garman and Kohlhagen: Black-Scholes-Merton with the\n"
    "foreign rate as the dividend yield. Spot and strike in domestic units per foreign unit;\n"
    "the price in domestic units per unit of foreign notional.\n"
    "\n"
    "Example:\n"
    "\n"
    "    import quelm\n"
    "    quelm.garman_kohlhagen(1.3465, 1.35, 0.0294, 0.0346, 0.1825, 1.0, \"call\")");
QUELM_PUBLIC(def_garman_kohlhagen);

constexpr FunctionDef def_fx_greeks = typed_in_vec<&fx_greeks_of>(
    "fx_greeks", kFxOptionTerms,
    "The Garman-Kohlhagen price and Greeks as a dict: `price`, the four deltas (`spot_delta`,\n"
    "`forward_delta` and their premium-adjusted forms `spot_delta_pa`, `forward_delta_pa`:\n"
    "the delta less the premium in foreign units), `gamma`, `vega` (per unit of vol),\n"
    "`theta` (per year), `rho_domestic`, `rho_foreign`, `vanna` and `volga`.\n"
    "\n"
    "Example:\n"
    "\n"
    "    import quelm\n"
    "    quelm.fx_greeks(1.3465, 1.35, 0.0294, 0.0346, 0.1825, 1.0, \"put\")[\"spot_delta_pa\"]");
QUELM_PUBLIC(def_fx_greeks);

constexpr FunctionDef def_fx_forward = typed_in_vec<&fx_forward_of>(
    "fx_forward", {"spot", "t", "domestic_rate", "foreign_rate"},
    "The outright FX forward S e^((rd - rf) t), rates continuously compounded.\n"
    "\n"
    "Example:\n"
    "\n"
    "    import quelm\n"
    "    quelm.fx_forward(1.3465, 1.0, 0.0294, 0.0346)");
QUELM_PUBLIC(def_fx_forward);

constexpr FunctionDef def_fx_forward_at = typed<&fx_forward_at_of>(
    "fx_forward_at", {"spot", "date", "domestic_curve", "foreign_curve", "*", {"spot_date", "None"}},
    "The FX forward to `date` off two dated YieldCurves: F = S P_f / P_d, as a dict of\n"
    "`forward`, `forward_points` ((F - S) * 10^4, pips of 1e-4), `domestic_discount` and\n"
    "`foreign_discount`. The spot is for value on the curves' reference date, or on\n"
    "`spot_date` when given (both discount factors then run from it).\n"
    "\n"
    "Example:\n"
    "\n"
    "    import datetime, quelm\n"
    "    usd = quelm.YieldCurve.flat(0.0294, reference_date=datetime.date(2026, 1, 5))\n"
    "    eur = quelm.YieldCurve.flat(0.0346, reference_date=datetime.date(2026, 1, 5))\n"
    "    quelm.fx_forward_at(1.3465, datetime.date(2027, 1, 5), usd, eur)[\"forward_points\"]");
QUELM_PUBLIC(def_fx_forward_at);

constexpr FunctionDef def_fx_delta = typed_in_vec<&fx_delta_of>(
    "fx_delta", kFxOptionTerms + kDeltaType,
    "An FX option's delta in a market convention: `delta_type` \"spot\" (e^(-rf t) N(d1) for a\n"
    "call), \"forward\" (N(d1)), or the premium-adjusted \"spot-pa\" and \"forward-pa\" (the delta\n"
    "less the premium in foreign units: (K / F) N(d2), times e^(-rf t) for spot). Puts carry\n"
    "the sign: -e^(-rf t) N(-d1), ...\n"
    "\n"
    "Example:\n"
    "\n"
    "    import quelm\n"
    "    quelm.fx_delta(1.3465, 1.35, 0.0294, 0.0346, 0.1825, 1.0, \"call\", delta_type=\"spot-pa\")");
QUELM_PUBLIC(def_fx_delta);

constexpr FunctionDef def_fx_strike_from_delta = typed_in_vec<&fx_strike_from_delta_of>(
    "fx_strike_from_delta",
    {"delta", "spot", "domestic_rate", "foreign_rate", "vol", "t", "option_type", "*", {"delta_type", "\"spot\""}},
    "The strike whose delta (in `delta_type`, as `fx_delta`) is `delta`. Unadjusted deltas\n"
    "invert in closed form. A premium-adjusted put delta falls with the strike, so its strike\n"
    "is unique. A premium-adjusted call delta rises from 0 to a maximum and falls back: a\n"
    "delta below the maximum has two strikes, and the one above the maximising strike (where\n"
    "the delta falls as the strike rises, the market's branch) is returned; a delta above\n"
    "the maximum is an error that gives it. Solved by Brent's method in ln K to the last bits.\n"
    "\n"
    "Example:\n"
    "\n"
    "    import quelm\n"
    "    quelm.fx_strike_from_delta(0.25, 1.3465, 0.0294, 0.0346, 0.1825, 1.0, \"call\",\n"
    "                               delta_type=\"forward-pa\")");
QUELM_PUBLIC(def_fx_strike_from_delta);

constexpr FunctionDef def_fx_atm_strike = typed_in_vec<&fx_atm_strike_of>(
    "fx_atm_strike",
    {"spot", "domestic_rate", "foreign_rate", "vol", "t", "*", {"atm_type", "\"dns\""}, {"delta_type", "\"spot\""}},
    "The at-the-money strike: `atm_type` \"dns\" (the delta-neutral straddle, call and put\n"
    "deltas in `delta_type` cancelling: F e^(vol^2 t / 2) unadjusted, F e^(-vol^2 t / 2)\n"
    "premium-adjusted), \"forward\" (F) or \"spot\" (S).\n"
    "\n"
    "Example:\n"
    "\n"
    "    import quelm\n"
    "    quelm.fx_atm_strike(1.3465, 0.0294, 0.0346, 0.1825, 1.0, delta_type=\"spot-pa\")");
QUELM_PUBLIC(def_fx_atm_strike);

constexpr FunctionDef def_fx_barrier_price = typed_in_vec<&fx_barrier_price_of>(
    "fx_barrier_price",
    {"spot", "strike", "barrier", "domestic_rate", "foreign_rate", "vol", "t", "barrier_type", "option_type", "*",
     {"rebate", "0.0"}},
    "A continuously monitored single-barrier FX option at one flat vol in closed form\n"
    "(Reiner-Rubinstein, the foreign rate as the dividend yield), with a `rebate` paid at the\n"
    "touch for a knock-out and at expiry, if never knocked in, for a knock-in. Needs vol > 0\n"
    "and t > 0; a rebate at the touch needs a rate that keeps (r - rf)^2 / vol^4 + 2 r / vol^2\n"
    "from going negative. The flat-smile limit of `FxSmile.barrier_price`.\n"
    "\n"
    "Example:\n"
    "\n"
    "    import quelm\n"
    "    quelm.fx_barrier_price(1.3465, 1.35, 1.20, 0.0294, 0.0346, 0.1825, 1.0, \"down-out\", \"call\")");
QUELM_PUBLIC(def_fx_barrier_price);

}  // namespace quelm::py

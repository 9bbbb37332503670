// The string options of the core, tied to the names their spellings have in quelm.typing
// and the stubs.
#pragma once

#include "frame/options.hpp"
#include "quelm/core/math/interpolate.hpp"
#include "quelm/credit/cds.hpp"
#include "quelm/pricing/option.hpp"
#include "quelm/curves/curve_options.hpp"
#include "quelm/curves/overnight_index.hpp"
#include "quelm/dates/adjust.hpp"
#include "quelm/dates/day_count.hpp"
#include "quelm/dates/schedule.hpp"
#include "quelm/ml/american.hpp"
#include "quelm/pricing/asian.hpp"
#include "quelm/pricing/barrier.hpp"
#include "quelm/pricing/binomial.hpp"
#include "quelm/pricing/black/implied_vol.hpp"
#include "quelm/pricing/lookback.hpp"
#include "quelm/rates/optionlet.hpp"
#include "quelm/rates/swaption.hpp"
#include "quelm/rates/hw_tree.hpp"
#include "quelm/stats/method.hpp"
#include "quelm/stochastic/process.hpp"
#include "quelm/volatility/heston_calibrate.hpp"
#include "quelm/volatility/sabr.hpp"
#include "quelm/fd/black_scholes_fd.hpp"
#include "quelm/fd/heston_fd.hpp"

namespace quelm::py {

QUELM_STRING_OPTION(OptionType, kOptionTypes, "OptionType");
QUELM_STRING_OPTION(pricing::ExerciseStyle, pricing::kExerciseStyles, "ExerciseStyle");
QUELM_STRING_OPTION(pricing::BarrierType, pricing::kBarrierTypes, "BarrierType");
QUELM_STRING_OPTION(pricing::StrikeType, pricing::kStrikeTypes, "StrikeType");
QUELM_STRING_OPTION(pricing::AverageType, pricing::kAverageTypes, "AverageType");
QUELM_STRING_OPTION(credit::Side, credit::kSides, "CdsSide");
QUELM_STRING_OPTION(stochastic::ProcessKind, stochastic::kProcessKinds, "Process");
QUELM_STRING_OPTION(stats::VarMethod, stats::kVarMethods, "VarMethod");
QUELM_STRING_OPTION(stats::EsMethod, stats::kEsMethods, "EsMethod");
QUELM_STRING_OPTION(Interp, kInterps, "Interpolation");
QUELM_STRING_OPTION(curves::BootstrapInterp, curves::kBootstrapInterps, "BootstrapInterpolation");
QUELM_STRING_OPTION(curves::Extrapolation, curves::kExtrapolations, "Extrapolation");
QUELM_STRING_OPTION(curves::OvernightIndex, curves::kOvernightIndices, "OvernightIndex");
QUELM_STRING_OPTION(ml::AmericanMethod, ml::kAmericanMethods, "NeuralMethod");
QUELM_STRING_OPTION(dates::Convention, dates::kConventions, "BusinessDayConvention");
QUELM_STRING_OPTION(dates::Rule, dates::kRules, "ScheduleRule");
QUELM_STRING_OPTION(volatility::QuoteType, volatility::kQuoteTypes, "QuoteType");
QUELM_STRING_OPTION(pricing::ImpliedVolMethod, pricing::kImpliedVolMethods, "ImpliedVolMethod");
QUELM_STRING_OPTION(volatility::SabrModel, volatility::kSabrModels, "SabrModel");
QUELM_STRING_OPTION(rates::VolModel, rates::kVolModels, "RateVolModel");
QUELM_STRING_OPTION(rates::HwMethod, rates::kHwMethods, "HullWhiteMethod");
QUELM_STRING_OPTION(rates::CapKind, rates::kCapKinds, "CapKind");
QUELM_STRING_OPTION(rates::SwaptionKind, rates::kSwaptionKinds, "SwaptionKind");
QUELM_STRING_OPTION(rates::Settlement, rates::kSettlements, "SwaptionSettlement");
QUELM_STRING_OPTION(fd::Scheme, fd::kSchemes, "FdScheme");
QUELM_STRING_OPTION(fd::AdiScheme, fd::kAdiSchemes, "AdiScheme");

// A day count: its name, and for bus/252 a calendar after a colon ("bus/252:target+uk").
// Its codes: one per kind, and for bus/252 one per set of markets (src/bindings/dates.cpp).
template <>
struct ParsedOption<dates::DayCount> {
    static Result<dates::DayCount> parse(std::string_view text) { return dates::parse_day_count(text); }
    static bool code(std::string_view text, unsigned char& code, std::string& message);
    static const dates::DayCount& of_code(unsigned char code);
    static constexpr std::size_t kKinds = 11;                           // DayCountKind's values
    static constexpr std::size_t count = kKinds + (1u << (dates::kMarketCount - 1));  // + bus/252 per market set
};
template <>
struct Annotation<dates::DayCount> {
    static const char* param() { return "str"; }
};

}  // namespace quelm::py

// The FX domain's string options and the parameters its pricers share.
#pragma once

#include "frame/options.hpp"
#include "frame/signature.hpp"
#include "quelm/fx/delta.hpp"
#include "quelm/fx/smile.hpp"

namespace quelm::py {

QUELM_STRING_OPTION(fx::DeltaType, fx::kDeltaTypes, "DeltaType");
QUELM_STRING_OPTION(fx::AtmType, fx::kAtmTypes, "AtmType");
QUELM_STRING_OPTION(fx::Strangle, fx::kStrangles, "StrangleConvention");
QUELM_STRING_OPTION(fx::SmileInterp, fx::kSmileInterps, "SmileInterpolation");

// The market of one FX option: spot, strike, both rates, vol, t and the option type.
inline constexpr ParamList kFxOptionTerms{"spot", "strike", "domestic_rate", "foreign_rate", "vol", "t",
                                          "option_type"};

}  // namespace quelm::py

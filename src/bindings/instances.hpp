// The classes whose instances hold core values, for declarations that take or return them.
#pragma once

#include "frame/declare.hpp"
#include "quelm/bonds/bond.hpp"
#include "quelm/bonds/dated_bond.hpp"
#include "quelm/curves/curve.hpp"
#include "quelm/volatility/surface.hpp"

namespace quelm::py {

PyTypeObject* yield_curve_type();
PyTypeObject* fixed_rate_bond_type();
PyTypeObject* dated_bond_type();
PyTypeObject* vol_surface_type();

QUELM_CLASS_OF(curves::YieldCurve, yield_curve_type, "YieldCurve");
QUELM_CLASS_OF(bonds::FixedRateBond, fixed_rate_bond_type, "FixedRateBond");
QUELM_CLASS_OF(bonds::DatedBond, dated_bond_type, "DatedBond");
QUELM_CLASS_OF(volatility::VolSurface, vol_surface_type, "VolSurface");

}  // namespace quelm::py

// The classes whose instances hold core values, for declarations that take or return them.
#pragma once

#include "frame/declare.hpp"
#include "quelm/bonds/bond.hpp"
#include "quelm/bonds/dated_bond.hpp"
#include "quelm/curves/curve.hpp"

namespace quelm::py {

PyTypeObject* yield_curve_type();
PyTypeObject* fixed_rate_bond_type();
PyTypeObject* dated_bond_type();

QUELM_CLASS_OF(curves::YieldCurve, yield_curve_type, "YieldCurve");
QUELM_CLASS_OF(bonds::FixedRateBond, fixed_rate_bond_type, "FixedRateBond");
QUELM_CLASS_OF(bonds::DatedBond, dated_bond_type, "DatedBond");

}  // namespace quelm::py

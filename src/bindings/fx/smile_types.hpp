// The Python classes FxSmile and FxVolSurface, for other bindings that take or give them.
#pragma once

#include "frame/declare.hpp"
#include "quelm/fx/smile.hpp"
#include "quelm/fx/surface.hpp"

namespace quelm::py {

PyTypeObject* fx_smile_type();
PyTypeObject* fx_vol_surface_type();

QUELM_CLASS_OF(fx::FxSmile, fx_smile_type, "FxSmile");
QUELM_CLASS_OF(fx::FxVolSurface, fx_vol_surface_type, "FxVolSurface");

}  // namespace quelm::py

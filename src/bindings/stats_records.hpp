// The dict shapes of a statistics report and of a drawdown, shared with the array API.
#pragma once

#include "bindings/frame/ref.hpp"
#include "quelm/stats/drawdown.hpp"
#include "quelm/stats/report.hpp"

namespace quelm::py {

// New dicts keyed as quelm.stats and quelm.max_drawdown return them; nullptr on failure.
PyObject* to_py(const stats::StatsReport& r);
PyObject* to_py(const stats::Drawdown& d);

}  // namespace quelm::py

// The Python classes of a book's trades priced by finite differences: AmericanOption and
// BarrierOption.
#pragma once

#include "frame/classes.hpp"
#include "frame/declare.hpp"
#include "quelm/book/fd_option_trades.hpp"

namespace quelm::py {

PyTypeObject* american_option_type();
PyTypeObject* barrier_option_type();
QUELM_CLASS_OF(book::AmericanOption, american_option_type, "AmericanOption");
QUELM_CLASS_OF(book::BarrierOption, barrier_option_type, "BarrierOption");

}  // namespace quelm::py

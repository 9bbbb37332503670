// The Python classes of a book's market trades: FxForward, EuropeanOption and FxOption.
#pragma once

#include "frame/classes.hpp"
#include "frame/declare.hpp"
#include "quelm/book/market_trade.hpp"

namespace quelm::py {

PyTypeObject* fx_forward_type();
PyTypeObject* european_option_type();
PyTypeObject* fx_option_type();
QUELM_CLASS_OF(book::FxForward, fx_forward_type, "FxForward");
QUELM_CLASS_OF(book::EuropeanOption, european_option_type, "EuropeanOption");
QUELM_CLASS_OF(book::FxOption, fx_option_type, "FxOption");

}  // namespace quelm::py

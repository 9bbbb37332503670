// Book.scenario, Book.historical_var and Book.expected_shortfall: the shifts and quote
// histories read as the market reads them, the P&L and loss records built back.
#pragma once

#include "bindings/book/market_args.hpp"
#include "quelm/book/book.hpp"

#include <cstdint>

namespace quelm::py {

// A Market argument of a plain method.
using MarketArg = InstanceOf<book::Market>;
template <>
struct Annotation<MarketArg> {
    static const char* param() { return "Market"; }
};

PyObject* book_scenario_impl(const book::Book& b, const MarketArg& market, PyObject* shifts);
PyObject* book_historical_var_impl(const book::Book& b, const MarketArg& market, PyObject* quote_history,
                                   double level, std::uint64_t horizon);
PyObject* book_expected_shortfall_impl(const book::Book& b, const MarketArg& market, PyObject* quote_history,
                                       double level, std::uint64_t horizon);

}  // namespace quelm::py

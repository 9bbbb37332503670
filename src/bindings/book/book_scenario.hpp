// Book.scenario, Book.historical_var and Book.expected_shortfall: the shifts and quote
// histories read as the market reads them, the P&L and loss records built back.
#pragma once

#include "bindings/book/market_args.hpp"
#include "quelm/book/book.hpp"

#include <cstdint>
#include <optional>
#include <string_view>

namespace quelm::py {

// A Market argument of a plain method.
using MarketArg = InstanceOf<book::Market>;
template <>
struct Annotation<MarketArg> {
    static const char* param() { return "Market"; }
};

// `currency`: the reporting currency (None: each trade in its own).
using CurrencyArg = std::optional<std::string_view>;
PyObject* book_scenario_impl(const book::Book& b, const MarketArg& market, PyObject* shifts,
                             const CurrencyArg& currency);
PyObject* book_historical_var_impl(const book::Book& b, const MarketArg& market, PyObject* quote_history,
                                   double level, std::uint64_t horizon, const CurrencyArg& currency);
PyObject* book_expected_shortfall_impl(const book::Book& b, const MarketArg& market, PyObject* quote_history,
                                       double level, std::uint64_t horizon, const CurrencyArg& currency);

}  // namespace quelm::py

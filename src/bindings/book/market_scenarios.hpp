// Market.shifted, Market.scenarios and Market.historical_shifts: reading shifts and quote
// histories (dicts, pandas Series and DataFrames, by duck typing) into the core's
// scenarios, and their markets back. Book scenarios and VaR read theirs here too.
#pragma once

#include "bindings/book/market_args.hpp"
#include "frame/ref.hpp"
#include "quelm/book/market_history.hpp"
#include "quelm/book/market_shift.hpp"
#include "quelm/core/cancel.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quelm::py {

Result<book::Market> shifted_of(const book::Market& m, const ShiftsArg& shifts, Cancel& cancel);
PyObject* scenarios_impl(const book::Market& m, PyObject* shifts);
PyObject* historical_shifts_impl(const book::Market& m, PyObject* quote_history, std::uint64_t horizon,
                                 const std::optional<std::vector<std::string>>& relative);

// A DataFrame, duck-typed: what has columns, an index and to_numpy.
bool is_frame(PyObject* o);

// The scenarios read from a DataFrame, a mapping of names to mappings or a sequence of
// mappings; `names` holds each scenario's name (none for a sequence).
struct Scenarios {
    Ref names;  // a list, or null for a sequence
    std::vector<std::string> labels;  // str(name), for messages
    std::vector<std::vector<std::pair<std::string, double>>> shifts;
};
bool read_scenarios(PyObject* o, Scenarios& s);

// Each scenario's keys resolved against the market; an error names the scenario (labels[i]).
Result<std::vector<book::MarketShift>> resolve(const book::ShiftKeys& keys,
                                               const std::vector<std::vector<std::pair<std::string, double>>>& all,
                                               const std::vector<std::string>* labels);

// A quote history read from a DataFrame indexed by date: its keys (each known to the
// market), dates, values row-major, and how each column changes (relative: the FX pairs,
// unless `relative` names the columns).
struct QuoteHistory {
    std::vector<std::string> keys;
    std::vector<dates::Serial> days;
    std::vector<double> values;
    std::vector<book::HistoryColumn> columns;
};
bool read_history(const book::Market& m, PyObject* quote_history,
                  const std::optional<std::vector<std::string>>& relative, QuoteHistory& out);

}  // namespace quelm::py

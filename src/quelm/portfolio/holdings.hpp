// One position of a portfolio: a symbol and its purchase lots
// (quantity in units, unit cost in the price currency).
#pragma once

#include <string>
#include <vector>

namespace quelm::portfolio {

struct Lot {
    double quantity;
    double unit_cost;
};

struct Holding {
    std::string symbol;
    std::vector<Lot> lots;
};

}  // namespace quelm::portfolio

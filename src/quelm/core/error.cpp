#include "quelm/core/error.hpp"

namespace quelm {

std::string Error::render() const {
    const char* prefix = "invalid input: ";
    switch (kind) {
        case Kind::InvalidInput: prefix = "invalid input: "; break;
        case Kind::Numerical: prefix = "numerical error: "; break;
        case Kind::NotImplemented: prefix = "not implemented: "; break;
        case Kind::DataSource: prefix = "data source error: "; break;
        case Kind::Memory: prefix = ""; break;
        case Kind::Cancelled: prefix = ""; break;
        case Kind::Argument: prefix = ""; break;
    }
    return prefix + text;
}

}  // namespace quelm

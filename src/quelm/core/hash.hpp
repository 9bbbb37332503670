// A hash over the fields a value compares by, for immutable values that Python hashes:
// equal values must hash equal, so a double is hashed by its value (0.0 and -0.0 alike, as
// they compare equal), never by its text.
#pragma once

#include <bit>
#include <cstdint>

namespace quelm {

class Hasher {
public:
    void mix(std::uint64_t v) {
        h_ = (h_ ^ v) * 0x100000001b3ull;
        h_ ^= h_ >> 29;
    }
    // Adding 0.0 turns -0.0 into 0.0 and leaves every other value as it is.
    void real(double x) { mix(std::bit_cast<std::uint64_t>(x + 0.0)); }
    [[nodiscard]] std::uint64_t value() const { return h_; }

private:
    std::uint64_t h_ = 0xcbf29ce484222325ull;
};

}  // namespace quelm

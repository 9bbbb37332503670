// Western (Gregorian) Easter Sunday of a year, as a date serial (days since 1970-01-01).
#pragma once

#include <cstdint>

#include "quelm/dates/serial.hpp"

namespace quelm::dates {

// The anonymous Gregorian algorithm (Meeus/Jones/Butcher), any year >= 1583.
[[nodiscard]] constexpr Serial easter_sunday(std::int32_t y) {
    const std::int32_t a = y % 19, b = y / 100, c = y % 100, d = b / 4, e = b % 4;
    const std::int32_t f = (b + 8) / 25, g = (b - f + 1) / 3;
    const std::int32_t h = (19 * a + b - d - g + 15) % 30;
    const std::int32_t i = c / 4, k = c % 4;
    const std::int32_t l = (32 + 2 * e + 2 * i - h - k) % 7;
    const std::int32_t m = (a + 11 * h + 22 * l) / 451;
    const std::int32_t month = (h + l - 7 * m + 114) / 31;
    const std::int32_t day = (h + l - 7 * m + 114) % 31 + 1;
    return serial_of(y, static_cast<unsigned>(month), static_cast<unsigned>(day));
}

}  // namespace quelm::dates

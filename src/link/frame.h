#pragma once

#include <array>
#include <cstdint>

// A reading frame as the controller sends it: high byte, low byte, check byte
// (high + low) mod 256. Plain C++ without Qt, so that the program, the
// simulator, the bench and the tests encode frames in one place.
namespace frame {

[[nodiscard]] constexpr int check(int high, int low) { return (high + low) % 256; }

[[nodiscard]] constexpr std::array<std::uint8_t, 3> encode(int reading)
{
    const int high = (reading >> 8) & 0xff;
    const int low = reading & 0xff;
    return {std::uint8_t(high), std::uint8_t(low), std::uint8_t(check(high, low))};
}

} // namespace frame

// The hub's three front LEDs, each on one GPIO output line; which pattern means what is up
// to the callers.
#pragma once

#include <cstdint>

#include "lib/gpio/Pin.hpp"
#include "lib/prism/led_patterns.hpp"

namespace bw_selftest {

struct LEDs {
    // No LEDs at all: every switch fails at once without a system call.
    LEDs() = default;
    // Sets up the three lines in this order as outputs at the level the kernel chooses,
    // exporting them first where needed. A line that cannot be set up stays unusable and
    // leaves the object not ready; construction itself never fails for it.
    LEDs(std::uint32_t firstGpio, std::uint32_t secondGpio, std::uint32_t thirdGpio);

    // One write of "1" (on) or "0" (off) each; false when the pin is not usable or the write
    // did not take.
    [[nodiscard]] bool setFirst(bool on);
    [[nodiscard]] bool setSecond(bool on);
    [[nodiscard]] bool setThird(bool on);
    // First, second, third; stops at the first failure, leaving the later LEDs as they were.
    [[nodiscard]] bool set(bool firstOn, bool secondOn, bool thirdOn);
    [[nodiscard]] bool show(const LedPattern& pattern) {
        return set(pattern.first, pattern.second, pattern.third);
    }

    // Public so that the entry can release them and keep the lines exported.
    Pin first;
    Pin second;
    Pin third;
    bool ready = false;
};

}  // namespace bw_selftest

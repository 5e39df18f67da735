// The hub's three front LEDs as the GPIO lines show them.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "hub/GpioFs.hpp"

namespace bw_sim {

constexpr unsigned kLedGpios[3] = {11, 12, 13};

// Each LED: 1 lit, 0 dark, -1 when its line is not an exported output.
struct LedState {
    int first = -1;
    int second = -1;
    int third = -1;

    bool operator==(const LedState& other) const {
        return first == other.first && second == other.second && third == other.third;
    }
    bool operator!=(const LedState& other) const { return !(*this == other); }
    // "off on off"; "-" for an LED whose line is not set up.
    std::string text() const;
};

// Shorthand for tests: LedState lit(false, true, false).
LedState lit(bool first, bool second, bool third);

LedState ledState(const GpioFs& gpio);

struct LedChange {
    std::chrono::microseconds at;
    LedState state;
};

// The LEDs after every accepted write that changed one of them, replayed from the timeline
// (export, direction and value writes to GPIO 11, 12 and 13), from `initial`.
std::vector<LedChange> ledHistory(const std::vector<GpioWrite>& timeline,
                                  const LedState& initial = {});
// The LEDs after every accepted write to the value file of GPIO 11, 12 or 13, changed or
// not: each moment the program set an LED.
std::vector<LedChange> ledValueWrites(const std::vector<GpioWrite>& timeline,
                                      const LedState& initial = {});

// What a pattern tells: "testing", "failed", "passed", "normal boot", or empty.
std::string ledMeaning(const LedState& state);

}  // namespace bw_sim

// One row of the GPIO and LED tables: a simulated hub, what is done to its lines, and what
// its sysfs GPIO directory saw.
#pragma once

#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "hub/Scenario.hpp"

namespace bw_test {

struct GpioCase {
    const char* name;
    bw_sim::Scenario scenario;
    // Builds, uses and destroys the objects under test; returns what their operations said.
    std::function<std::string()> act;
    std::string said;
    // Every write under /sys/class/gpio as "file data", a refused one with " !ERRNO ×": a run
    // of the same refused write is one entry, repeated minRepeats to maxRepeats times, each
    // retry at least 7 ms after the attempt before.
    std::vector<std::string> writes;
    unsigned minRepeats = 1;
    unsigned maxRepeats = 1;
    // The lines on standard error, without the program name in front.
    std::vector<std::string> errors;
    // GPIO 11, 12 and 13 afterwards: "out 1" or "in 0" each, "-" when not exported.
    std::string linesAfter;
};

void runGpioCase(const GpioCase& row);

// "1" or "0", to build what a row said.
inline std::string said(bool result) {
    return result ? "1" : "0";
}

// The parts joined in the order written: a braced list is evaluated left to right, the
// operands of + are not.
inline std::string inOrder(std::initializer_list<std::string> parts) {
    std::string text;
    for (const std::string& part : parts) {
        text += part;
    }
    return text;
}

}  // namespace bw_test

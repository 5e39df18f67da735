// One row of the GPIO and LED tables: a simulated hub, what is done to its lines there, and
// one line telling what happened.
#pragma once

#include <functional>
#include <initializer_list>
#include <string>

#include "hub/Scenario.hpp"

namespace bw_test {

struct GpioCase {
    const char* name;
    bw_sim::Scenario scenario;
    // Builds, uses and destroys the objects under test; returns what their operations said.
    std::function<std::string()> act;
    // A regular expression for "said; writes; lines; errors": every write under
    // /sys/class/gpio as "file data" (a run of one refused write as "file data !ERRNO ×count",
    // its retries at least 7 ms apart), GPIO 11, 12 and 13 afterwards ("out1", "-" when not
    // exported), and standard error without the program name.
    std::string expected;
};

void runGpioCase(const GpioCase& row);

// Joined in the order written: a braced list is evaluated left to right, operands of + not.
inline std::string inOrder(std::initializer_list<std::string> parts) {
    std::string text;
    for (const std::string& part : parts) {
        text += part;
    }
    return text;
}

}  // namespace bw_test

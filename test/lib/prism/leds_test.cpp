// The front LEDs against the simulated sysfs GPIO directory of a hub.
#include "lib/prism/leds.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <cerrno>

#include "GpioCase.hpp"
#include "hub/Hub.hpp"

namespace bw_selftest {
namespace {

using bw_sim::Scenario;
using bw_test::inOrder;
using std::to_string;

std::string readiness(const LEDs& leds) {
    return leds.ready ? "ready" : "not ready";
}

// Descriptors that a started program would inherit.
int inheritable() {
    int count = 0;
    for (int fd = 3; fd < 256; ++fd) {
        const int flags = ::fcntl(fd, F_GETFD);
        count += flags >= 0 && (flags & FD_CLOEXEC) == 0 ? 1 : 0;
    }
    return count;
}

std::string releasedLeds() {
    const int before = inheritable();
    LEDs leds(11, 12, 13);
    leds.first.release();
    leds.second.release();
    leds.third.release();
    return readiness(leds) + (inheritable() == before ? "" : " inheritable");
}

const char* kExports =
    "export 11, gpio11/direction out, export 12, gpio12/direction out, export 13, "
    "gpio13/direction out";

TEST(LEDs, AgainstTheHubsSysfs) {
    BW_REQUIRE_HUB();
    const Scenario board =
        Scenario().exported(11, true, 1).exported(12, true, 1).exported(13, true, 0);
    const std::string fresh = std::string("ready; ") + kExports;
    const bw_test::GpioCase rows[] = {
        {"fresh board, released", Scenario(), releasedLeds, fresh + "; out0 out0 out0;"},
        {"fresh board, not released", Scenario(), [] { return readiness(LEDs(11, 12, 13)); },
         fresh + ", unexport 13, unexport 12, unexport 11; - - -;"},
        {"pre-exported board", board, releasedLeds, "ready; ; out1 out1 out0;"},
        {"set", board, [] { return to_string(LEDs(11, 12, 13).set(false, false, true)); },
         "1; gpio11/value 0, gpio12/value 0, gpio13/value 1; out0 out0 out1;"},
        {"set stopping early", Scenario(board).valueWriteFails(12, EIO),
         [] { return to_string(LEDs(11, 12, 13).set(false, false, true)); },
         "0; gpio11/value 0, gpio12/value 0 !EIO ×1; out0 out1 out0;"},
        {"GPIO 11 without a value file",
         Scenario(board).gpioFault({11, "value", bw_sim::GpioFault::Operation::open, EACCES}),
         [] {
             LEDs leds(11, 12, 13);
             return inOrder({readiness(leds), to_string(leds.set(false, false, true))});
         },
         "not ready0; ; out1 out1 out0;"},
    };
    for (const bw_test::GpioCase& row : rows) {
        bw_test::runGpioCase(row);
    }
}

}  // namespace
}  // namespace bw_selftest

// GPIO lines against the simulated sysfs GPIO directory of a hub.
#include "lib/gpio/Pin.hpp"

#include <gtest/gtest.h>

#include <cerrno>

#include "GpioCase.hpp"
#include "hub/Hub.hpp"
#include "lib/gpio/paths.hpp"

namespace bw_selftest {
namespace {

using bw_sim::GpioFault;
using bw_sim::Scenario;
using bw_test::inOrder;
using std::to_string;

// An output at the kernel's level, with the LEDs' budget.
Pin outputPin() {
    return Pin(11, true, -1, 100);
}

std::string openness(const Pin& pin) {
    return pin.isOpen() ? "open" : "closed";
}

std::string levelOf(Pin& pin) {
    bool level = false;
    return inOrder({to_string(pin.getValue(level)), to_string(level)});
}

TEST(Pin, AgainstTheHubsSysfs) {
    BW_REQUIRE_HUB();
    using Operation = GpioFault::Operation;
    const bw_test::GpioCase rows[] = {
        {"exported, direction \"out\\n\"", Scenario().exported(11, true, 1),
         [] { return openness(outputPin()); }, "open; ; out1 - -;"},
        {"exported as in, output at level 0", Scenario().exported(11, false, 0),
         [] { return openness(Pin(11, true, 0, 100)); }, "open; gpio11/direction low; out0 - -;"},
        {"not exported, released", Scenario(),
         [] {
             Pin pin = outputPin();
             pin.release();
             return to_string(pin.setValue(true));
         },
         "1; export 11, gpio11/direction out, gpio11/value 1; out1 - -;"},
        {"direction refused for 50 ms",
         Scenario().directionDeniedAfterExport(std::chrono::milliseconds(50)),
         [] { return openness(outputPin()); },
         "open; export 11, gpio11/direction out !EACCES ×[4-8], gpio11/direction out, "
         "unexport 11; - - -;"},
        {"direction refused for ever", Scenario().directionDeniedAfterExport(std::chrono::hours(1)),
         [] {
             Pin pin = outputPin();
             return inOrder({openness(pin), to_string(pin.setValue(true)),
                             RawIO::resultText(pin.waitForEdge(0)), levelOf(pin)});
         },
         "closed0: Poll failed00; export 11, gpio11/direction out !EACCES ×15, unexport 11; - - -;"
         " /sys/class/gpio/gpio11/direction: Permission denied"},
        {"direction write failing otherwise",
         Scenario().exported(11, false, 0).gpioFault({11, "direction", Operation::write, EIO}),
         [] { return openness(outputPin()); },
         "closed; gpio11/direction out !EIO ×1; in0 - -; /sys/class/gpio/gpio11/direction: Write "
         "failed"},
        {"not exported, then unexported twice", Scenario(),
         [] {
             PinExporter exporter(11, true, 1, 100);
             return inOrder({to_string(exporter.unexport()), to_string(exporter.unexport())});
         },
         "11; export 11, gpio11/direction high, unexport 11; - - -;"},
        {"edges of an input", Scenario().exported(11, false, 0),
         [] {
             Pin pin(11, false, -1, 100);
             return inOrder({to_string(pin.setEdge(static_cast<Edge>(4))),
                             to_string(pin.setEdge(Edge::both)),
                             RawIO::resultText(pin.waitForEdge(30))});
         },
         "01: Timed out; gpio11/edge both; in0 - -;"},
        {"value 1, read twice", Scenario().exported(11, true, 1),
         [] {
             Pin pin = outputPin();
             return inOrder({levelOf(pin), levelOf(pin)});
         },
         "1111; ; out1 - -;"},
    };
    for (const bw_test::GpioCase& row : rows) {
        bw_test::runGpioCase(row);
    }
}

// The kernel only ever shows "0\n" or "1\n"; any other byte in a value file is no level.
TEST(Pin, ValueOtherThanZeroOrOneIsNoLevel) {
    BW_REQUIRE_SANDBOX();
    bw_sim::runInSandbox([] {
        bw_sim::sandbox::freshDirectory("/sys/class/gpio");
        bw_sim::sandbox::writeFile(directionPath(11), "out\n");
        bw_sim::sandbox::writeFile(valuePath(11), "7\n");
        Pin pin = outputPin();
        EXPECT_EQ("00", levelOf(pin));
    });
}

}  // namespace
}  // namespace bw_selftest

// GPIO lines against the simulated sysfs GPIO directory of a hub.
#include "lib/gpio/Pin.hpp"

#include <gtest/gtest.h>

#include <cerrno>

#include "GpioCase.hpp"
#include "hub/Hub.hpp"
#include "lib/gpio/paths.hpp"
#include "sandbox/Sandbox.hpp"

namespace bw_selftest {
namespace {

namespace sandbox = bw_sim::sandbox;
using bw_sim::GpioFault;
using bw_sim::Scenario;
using bw_test::inOrder;
using bw_test::said;
using std::chrono::milliseconds;

// An output at the kernel's level, with the LEDs' budget.
Pin outputPin() {
    return Pin(11, true, -1, 100);
}

std::string openness(const Pin& pin) {
    return pin.isOpen() ? "open" : "closed";
}

std::vector<bw_test::GpioCase> pinCases() {
    const GpioFault valueUnreadable{11, "value", GpioFault::Operation::read, EIO};
    const GpioFault directionBroken{11, "direction", GpioFault::Operation::write, EIO};
    return {
        {"exported as out (\"out\\n\"): nothing written, left exported",
         Scenario().exported(11, true, 1),
         [] { return openness(outputPin()); },
         "open",
         {},
         1,
         1,
         {},
         "out 1, -, -"},
        {"exported as in, output at level 0: low",
         Scenario().exported(11, false, 0),
         [] { return openness(Pin(11, true, 0, 100)); },
         "open",
         {"gpio11/direction low"},
         1,
         1,
         {},
         "out 0, -, -"},
        {"not exported: exported, high, unexported at the end",
         Scenario(),
         [] { return openness(Pin(11, true, 1, 100)); },
         "open",
         {"export 11", "gpio11/direction high", "unexport 11"},
         1,
         1,
         {},
         "-, -, -"},
        {"not exported, then released: stays exported",
         Scenario(),
         [] {
             Pin pin = outputPin();
             pin.release();
             return inOrder({openness(pin), said(pin.setValue(true))});
         },
         "open1",
         {"export 11", "gpio11/direction out", "gpio11/value 1"},
         1,
         1,
         {},
         "out 1, -, -"},
        {"direction refused for 50 ms after the export: retried until it takes",
         Scenario().directionDeniedAfterExport(milliseconds(50)),
         [] { return openness(outputPin()); },
         "open",
         {"export 11", "gpio11/direction out !EACCES ×", "gpio11/direction out", "unexport 11"},
         4,
         8,
         {},
         "-, -, -"},
        {"direction refused for ever: 15 attempts in 100 ms, one report, nothing works",
         Scenario().directionDeniedAfterExport(milliseconds(60000)),
         [] {
             Pin pin = outputPin();
             bool level = false;
             return inOrder({openness(pin), said(pin.setValue(true)), said(pin.getValue(level)),
                             said(pin.setEdge(Edge::both)), RawIO::resultText(pin.waitForEdge(0))});
         },
         "closed000: Poll failed",
         {"export 11", "gpio11/direction out !EACCES ×", "unexport 11"},
         15,
         15,
         {"/sys/class/gpio/gpio11/direction: Permission denied"},
         "-, -, -"},
        {"direction write failing otherwise: not retried",
         Scenario().exported(11, false, 0).gpioFault(directionBroken),
         [] { return openness(outputPin()); },
         "closed",
         {"gpio11/direction out !EIO ×"},
         1,
         1,
         {"/sys/class/gpio/gpio11/direction: Write failed"},
         "in 0, -, -"},
        {"export refused: reported, nothing else",
         Scenario().exportFails(11, EBUSY),
         [] { return openness(outputPin()); },
         "closed",
         {"export 11 !EBUSY ×"},
         1,
         1,
         {"GPIO: unable to export GPIO 11."},
         "-, -, -"},
        {"unexport twice writes once",
         Scenario(),
         [] {
             PinExporter exporter(11, true, -1, 100);
             return inOrder({said(exporter.unexport()), said(exporter.unexport())});
         },
         "11",
         {"export 11", "gpio11/direction out", "unexport 11"},
         1,
         1,
         {},
         "-, -, -"},
        {"input: edge 4 refused, both written, no edge within 30 ms",
         Scenario().exported(11, false, 0),
         [] {
             Pin pin(11, false, -1, 100);
             return inOrder({said(pin.setEdge(static_cast<Edge>(4))), said(pin.setEdge(Edge::both)),
                             RawIO::resultText(pin.waitForEdge(30))});
         },
         "01: Timed out",
         {"gpio11/edge both"},
         1,
         1,
         {},
         "in 0, -, -"},
        {"value \"1\\n\" reads as 1, twice",
         Scenario().exported(11, true, 1),
         [] {
             Pin pin = outputPin();
             bool first = false;
             bool second = false;
             return inOrder({said(pin.getValue(first)), "=", said(first),
                             said(pin.getValue(second)), "=", said(second)});
         },
         "1=11=1",
         {},
         1,
         1,
         {},
         "out 1, -, -"},
        {"value unreadable: no level",
         Scenario().exported(11, true, 1).gpioFault(valueUnreadable),
         [] {
             Pin pin = outputPin();
             bool level = true;
             return inOrder({said(pin.getValue(level)), "=", said(level)});
         },
         "0=1",
         {},
         1,
         1,
         {},
         "out 1, -, -"},
    };
}

TEST(Pin, AgainstTheHubsSysfs) {
    BW_REQUIRE_HUB();
    for (const bw_test::GpioCase& row : pinCases()) {
        bw_test::runGpioCase(row);
    }
}

// The kernel only ever shows "0\n" or "1\n"; anything else in a value file is no level.
TEST(Pin, ValueOtherThanZeroOrOneIsNoLevel) {
    BW_REQUIRE_SANDBOX();
    bw_sim::runInSandbox([] {
        sandbox::freshDirectory("/sys/class/gpio");
        sandbox::writeFile(directionPath(11), "out\n");
        const struct {
            const char* content;
            bool read;
            bool level;
        } cases[] = {{"0\n", true, false}, {"7\n", false, true}, {"", false, true}};
        for (const auto& row : cases) {
            sandbox::writeFile(valuePath(11), row.content);
            Pin pin = outputPin();
            bool level = true;
            EXPECT_EQ(row.read, pin.getValue(level)) << row.content;
            EXPECT_EQ(row.level, level) << row.content;
        }
    });
}

}  // namespace
}  // namespace bw_selftest

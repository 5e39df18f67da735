// The front LEDs against the simulated sysfs GPIO directory of a hub.
#include "lib/prism/leds.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string>

#include "GpioCase.hpp"
#include "hub/Hub.hpp"

namespace bw_selftest {
namespace {

using bw_sim::Scenario;
using bw_test::inOrder;
using bw_test::said;

std::string readiness(const LEDs& leds) {
    return leds.ready ? "ready" : "not ready";
}

// How many open descriptors of this process are on a GPIO value file, and whether all of
// them are closed on exec.
std::string valueFilesOpen() {
    int count = 0;
    bool closeOnExec = true;
    DIR* fds = ::opendir("/proc/self/fd");
    while (const dirent* entry = fds != nullptr ? ::readdir(fds) : nullptr) {
        char target[PATH_MAX] = {};
        const std::string link = std::string("/proc/self/fd/") + entry->d_name;
        if (::readlink(link.c_str(), target, sizeof target - 1) > 0 &&
            std::string(target).find("/value") != std::string::npos) {
            ++count;
            closeOnExec = closeOnExec && (::fcntl(std::stoi(entry->d_name), F_GETFD) & FD_CLOEXEC);
        }
    }
    if (fds != nullptr) {
        ::closedir(fds);
    }
    return " " + std::to_string(count) + (closeOnExec ? " cloexec" : " inherited");
}

void releaseAll(LEDs& leds) {
    leds.first.release();
    leds.second.release();
    leds.third.release();
}

Scenario preExported() {
    return Scenario().exported(11, true, 1).exported(12, true, 1).exported(13, true, 0);
}

const std::vector<std::string> kExports = {"export 11", "gpio11/direction out",
                                           "export 12", "gpio12/direction out",
                                           "export 13", "gpio13/direction out"};

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(LEDs, AgainstTheHubsSysfs) {
    BW_REQUIRE_HUB();
    const bw_sim::GpioFault noValueFile{11, "value", bw_sim::GpioFault::Operation::open, EACCES};
    const bw_test::GpioCase rows[] = {
        {"fresh board, released: exported in order, kept",
         Scenario(),
         [] {
             LEDs leds(11, 12, 13);
             releaseAll(leds);
             return inOrder({readiness(leds), valueFilesOpen()});
         },
         "ready 3 cloexec",
         kExports,
         1,
         1,
         {},
         "out 0, out 0, out 0"},
        {"fresh board, not released: unexported 13, 12, 11",
         Scenario(),
         [] {
             return inOrder({readiness(LEDs(11, 12, 13)), valueFilesOpen()});
         },
         "ready 3 cloexec",
         kExports + std::vector<std::string>{"unexport 13", "unexport 12", "unexport 11"},
         1,
         1,
         {},
         "-, -, -"},
        {"pre-exported board: no export, no direction write",
         preExported(),
         [] { return readiness(LEDs(11, 12, 13)); },
         "ready",
         {},
         1,
         1,
         {},
         "out 1, out 1, out 0"},
        {"set writes first, second, third",
         preExported(),
         [] { return said(LEDs(11, 12, 13).set(false, false, true)); },
         "1",
         {"gpio11/value 0", "gpio12/value 0", "gpio13/value 1"},
         1,
         1,
         {},
         "out 0, out 0, out 1"},
        {"set stops at the first failed write",
         preExported().valueWriteFails(12, EIO),
         [] { return said(LEDs(11, 12, 13).set(false, false, true)); },
         "0",
         {"gpio11/value 0", "gpio12/value 0 !EIO ×"},
         1,
         1,
         {},
         "out 0, out 1, out 0"},
        {"GPIO 11 without a value file: no LED changes",
         preExported().gpioFault(noValueFile),
         [] {
             LEDs leds(11, 12, 13);
             return inOrder({readiness(leds), said(leds.set(false, false, true))});
         },
         "not ready0",
         {},
         1,
         1,
         {},
         "out 1, out 1, out 0"},
        {"GPIO 12 cannot be exported: reported, the others work",
         Scenario().exportFails(12, EIO),
         [] {
             LEDs leds(11, 12, 13);
             releaseAll(leds);
             return inOrder({readiness(leds), said(leds.setFirst(true)), said(leds.setThird(true)),
                             said(leds.setSecond(true))});
         },
         "not ready110",
         {"export 11", "gpio11/direction out", "export 12 !EIO ×", "export 13",
          "gpio13/direction out", "gpio11/value 1", "gpio13/value 1"},
         1,
         1,
         {"GPIO: unable to export GPIO 12."},
         "out 1, -, out 1"},
        {"no LEDs: nothing is touched",
         Scenario(),
         [] {
             LEDs leds;
             return inOrder({readiness(leds), said(leds.set(true, true, true)), valueFilesOpen()});
         },
         "not ready0 0 cloexec",
         {},
         1,
         1,
         {},
         "-, -, -"},
    };
    for (const bw_test::GpioCase& row : rows) {
        bw_test::runGpioCase(row);
    }
}

}  // namespace
}  // namespace bw_selftest

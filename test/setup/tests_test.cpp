// The suite of each model: classes, names, prefixes and order; and that building one
// touches nothing.
#include "setup/tests.hpp"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "Tests/EnOcean.hpp"
#include "Tests/Net.hpp"
#include "Tests/RTC.hpp"
#include "Tests/crate_1v0_b_eu/ZWaveGetVersion.hpp"
#include "Tests/prism_1v0_1v1_eu/ZWaveFlashBridge.hpp"
#include "Tests/prism_1v1_eu/ZigbeeTest.hpp"
#include "hub/Hub.hpp"
#include "support/Capture.hpp"

namespace bw_selftest {
namespace {

// "<class> <name>", and the prefix for a network test.
std::string describe(const Test& test) {
    const std::string name = test.name().toString();
    if (const auto* net = dynamic_cast<const Tests::Net*>(&test)) {
        return "Net " + name + " " + net->interfacePrefix().toString();
    }
    if (dynamic_cast<const Tests::EnOcean*>(&test) != nullptr) {
        return "EnOcean " + name;
    }
    if (dynamic_cast<const Tests::RTC*>(&test) != nullptr) {
        return "RTC " + name;
    }
    if (dynamic_cast<const Tests::prism_1v0_1v1_eu::ZWaveFlashBridge*>(&test) != nullptr) {
        return "ZWaveFlashBridge " + name;
    }
    if (dynamic_cast<const Tests::prism_1v1_eu::ZigbeeTest*>(&test) != nullptr) {
        return "ZigbeeTest " + name;
    }
    if (dynamic_cast<const Tests::crate_1v0_b_eu::ZWaveGetVersion*>(&test) != nullptr) {
        return "ZWaveGetVersion " + name;
    }
    return "unknown " + name;
}

std::vector<std::string> describe(Model model) {
    std::vector<std::string> suite;
    for (const auto& test : makeTests(model)) {
        suite.push_back(describe(*test));
    }
    return suite;
}

TEST(Suites, EachModelRunsItsTestsInOrder) {
    const std::vector<std::string> prism1v1{"Net Ethernet eth", "RTC RTC",
                                            "ZWaveFlashBridge Z-Wave", "ZigbeeTest Zigbee"};
    const struct {
        Model model;
        std::vector<std::string> suite;
    } cases[] = {
        {Model::prism_1v0_eu,
         {"Net Wifi wlan", "Net Ethernet eth", "EnOcean EnOcean", "RTC RTC",
          "ZWaveFlashBridge Z-Wave"}},
        {Model::prism_1v0_1_eu,
         {"Net Ethernet eth", "EnOcean EnOcean", "RTC RTC", "ZWaveFlashBridge Z-Wave"}},
        {Model::prism_1v1_eu, prism1v1},
        {Model::prism_1v1_eu_proto_1, prism1v1},
        {Model::prism_1v1_eu_proto_2, prism1v1},
        {Model::crate_1v0_b_eu, {"Net Ethernet eth", "ZWaveGetVersion Z-Wave"}},
        {Model::unsupported, {}},
        {static_cast<Model>(7), {}},
        {static_cast<Model>(-1), {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.suite, describe(c.model)) << static_cast<int>(c.model);
    }
}

TEST(Suites, BuildingThemTouchesNoHardware) {
    BW_REQUIRE_HUB();
    bw_sim::runInHub(bw_sim::Scenario(), [](bw_sim::Hub& hub) {
        const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        ASSERT_GE(watch, 0);
        for (const char* directory :
             {"/dev", "/dev/brambleway", "/sys/class/net/eth0", "/sys/class/net/wlan0",
              "/sys/class/rtc/rtc0", "/sys/class/i2c-adapter/i2c-1",
              "/usr/local/share/brambleway"}) {
            ASSERT_GE(::inotify_add_watch(watch, directory, IN_ALL_EVENTS), 0) << directory;
        }
        std::size_t built = 0;
        const bw_test::Captured seen = bw_test::capture([&built] {
            for (int model = 0; model <= 6; ++model) {
                built += makeTests(static_cast<Model>(model)).size();
            }
        });
        EXPECT_EQ(23U, built);
        char events[4096];
        EXPECT_LT(::read(watch, events, sizeof events), 0) << "a file was touched";
        ::close(watch);
        EXPECT_EQ("", seen.out);
        EXPECT_EQ("", seen.err);
        EXPECT_TRUE(hub.commandLines().empty());
        EXPECT_TRUE(hub.i2cWrites().empty());
        EXPECT_TRUE(hub.fileChanges().empty());
    });
}

}  // namespace
}  // namespace bw_selftest

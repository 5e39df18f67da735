// The suite of each model, and that building one touches nothing.
#include "setup/tests.hpp"

#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

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

using namespace Tests;

template <class T>
bool is(const Test& test) {
    return dynamic_cast<const T*>(&test) != nullptr;
}

struct Expected {
    bool (*isClass)(const Test&);
    std::string name;
    std::string prefix;  // of a network test
};

const Expected kWifi{is<Net>, "Wifi", "wlan"}, kEthernet{is<Net>, "Ethernet", "eth"},
    kEnOcean{is<EnOcean>, "EnOcean", ""}, kRtc{is<RTC>, "RTC", ""},
    kFlash{is<prism_1v0_1v1_eu::ZWaveFlashBridge>, "Z-Wave", ""},
    kZigbee{is<prism_1v1_eu::ZigbeeTest>, "Zigbee", ""};

TEST(Suites, EachModelRunsItsTestsInOrder) {
    const std::vector<Expected> prism1v1{kEthernet, kRtc, kFlash, kZigbee};
    const struct {
        Model model;
        std::vector<Expected> suite;
    } cases[] = {
        {Model::prism_1v0_eu, {kWifi, kEthernet, kEnOcean, kRtc, kFlash}},
        {Model::prism_1v0_1_eu, {kEthernet, kEnOcean, kRtc, kFlash}},
        {Model::prism_1v1_eu, prism1v1},
        {Model::prism_1v1_eu_proto_1, prism1v1},
        {Model::prism_1v1_eu_proto_2, prism1v1},
        {Model::crate_1v0_b_eu, {kEthernet, {is<crate_1v0_b_eu::ZWaveGetVersion>, "Z-Wave", ""}}},
        {Model::unsupported, {}},
        {static_cast<Model>(7), {}},
    };
    for (const auto& c : cases) {
        const auto suite = makeTests(c.model);
        ASSERT_EQ(c.suite.size(), suite.size()) << static_cast<int>(c.model);
        for (std::size_t i = 0; i < suite.size(); ++i) {
            SCOPED_TRACE("model " + std::to_string(static_cast<int>(c.model)) + ", test " +
                         std::to_string(i));
            const auto* net = dynamic_cast<const Net*>(suite[i].get());
            EXPECT_TRUE(c.suite[i].isClass(*suite[i]));
            EXPECT_EQ(c.suite[i].name, suite[i]->name().toString());
            EXPECT_EQ(c.suite[i].prefix, net ? net->interfacePrefix().toString() : "");
        }
    }
}

TEST(Suites, BuildingThemTouchesNoHardware) {
    BW_REQUIRE_HUB();
    bw_sim::runInHub(bw_sim::Scenario(), [](bw_sim::Hub& hub) {
        const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        for (const char* directory : {"/dev", "/dev/brambleway", "/sys/class/net/eth0",
                                      "/sys/class/net/wlan0", "/sys/class/rtc/rtc0"}) {
            ASSERT_GE(::inotify_add_watch(watch, directory, IN_ALL_EVENTS), 0) << directory;
        }
        std::size_t built = 0;
        const bw_test::Captured seen = bw_test::capture([&built] {
            for (int model = 0; model <= 6; ++model) {
                built += makeTests(static_cast<Model>(model)).size();
            }
        });
        char events[4096];
        EXPECT_LT(::read(watch, events, sizeof events), 0) << "a hardware file was opened";
        ::close(watch);
        EXPECT_EQ(23U, built);
        EXPECT_EQ("", seen.out + seen.err);
        EXPECT_TRUE(hub.commandLines().empty());
        EXPECT_TRUE(hub.i2cWrites().empty());
    });
}

}  // namespace
}  // namespace bw_selftest

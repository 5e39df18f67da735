// One run of a hardware test in the simulated hub: what the hub holds, and what the test must
// print (byte for byte), run and conclude.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "hub/Hub.hpp"
#include "support/Capture.hpp"

namespace bw_selftest::Tests {

struct HubCase {
    std::string label;
    bw_sim::Scenario scenario;
    bool passes;
    std::string out;
    std::vector<std::string> commands = {};
    std::function<bool()> run = {};  // when not the table's own
};

inline void expectHubCases(const std::function<bool()>& run, const std::vector<HubCase>& cases) {
    BW_REQUIRE_HUB();
    for (const HubCase& c : cases) {
        SCOPED_TRACE(c.label);
        bw_sim::runInHub(c.scenario, [&](bw_sim::Hub& hub) {
            bool passed = !c.passes;
            EXPECT_EQ(c.out, bw_test::capture([&] { passed = (c.run ? c.run : run)(); }).out);
            EXPECT_EQ(c.passes, passed);
            EXPECT_EQ(c.commands, hub.commandLines());
        });
    }
}

}  // namespace bw_selftest::Tests

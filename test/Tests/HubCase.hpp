// One run of a hardware test inside the simulated hub: what the hub holds, and what the test
// must print, run and conclude.
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
    std::function<bool()> run;
    bool passes;
    std::string out;  // standard output, byte for byte
    std::vector<std::string> commands;
};

inline void expectHubCases(const std::vector<HubCase>& cases) {
    BW_REQUIRE_HUB();
    for (const HubCase& c : cases) {
        SCOPED_TRACE(c.label);
        bw_sim::runInHub(c.scenario, [&c](bw_sim::Hub& hub) {
            bool passed = !c.passes;
            const bw_test::Captured seen = bw_test::capture([&] { passed = c.run(); });
            EXPECT_EQ(c.passes, passed);
            EXPECT_EQ(c.out, seen.out);
            EXPECT_EQ(c.commands, hub.commandLines());
        });
    }
}

}  // namespace bw_selftest::Tests

// Suites asked for in turn within one process: each model's names are made once and kept.
#include "record/Suites.hpp"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

TEST(Suites, EachModelKeepsItsOwnSuite) {
    const std::pair<const char*, std::vector<std::string>> cases[] = {
        {"prism-1v1-eu", {"Ethernet", "RTC", "Z-Wave", "Zigbee"}},
        {"crate-1v0-b-eu", {"Ethernet", "Z-Wave"}},
        {"prism-1v0-eu", {"Wifi", "Ethernet", "EnOcean", "RTC", "Z-Wave"}},
        {"prism-tmp-v1-eu", {}},
    };
    for (int round = 0; round < 2; ++round) {
        for (const auto& [id, suite] : cases) {
            EXPECT_EQ(bw_record::suiteOf(id), suite) << id;
        }
    }
}

// The prism 1v1 hubs' Zigbee test: waits for the radio's device entry, then runs the
// Zigbee service's self-test.
#pragma once

#include "Tests/Test.hpp"
#include "Tests/radio_tool.hpp"

namespace bw_selftest {
namespace Tests {
namespace prism_1v1_eu {

class ZigbeeTest : public Test {
  public:
    explicit ZigbeeTest(CStringLiteralView name) : Test(name) {}

    [[nodiscard]] bool run() override;

    // The whole test, with other waits and retry pauses.
    static bool runWith(const ToolTiming& timing);
};

}  // namespace prism_1v1_eu
}  // namespace Tests
}  // namespace bw_selftest

// The prism hubs' Z-Wave test: waits for the radio's device entry, reads its NVR, then
// flashes it as a bridge.
#pragma once

#include "Tests/Test.hpp"
#include "Tests/radio_tool.hpp"

namespace bw_selftest {
namespace Tests {
namespace prism_1v0_1v1_eu {

class ZWaveFlashBridge : public Test {
  public:
    explicit ZWaveFlashBridge(CStringLiteralView name) : Test(name) {}

    [[nodiscard]] bool run() override;

    // The whole test, with other waits and retry pauses.
    static bool runWith(const ToolTiming& timing);
};

}  // namespace prism_1v0_1v1_eu
}  // namespace Tests
}  // namespace bw_selftest

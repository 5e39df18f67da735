// The crate hub's Z-Wave test: waits for the radio's device entry, then asks for its version.
#pragma once

#include "Tests/Test.hpp"
#include "Tests/radio_tool.hpp"

namespace bw_selftest {
namespace Tests {
namespace crate_1v0_b_eu {

class ZWaveGetVersion : public Test {
  public:
    explicit ZWaveGetVersion(CStringLiteralView name) : Test(name) {}

    [[nodiscard]] bool run() override;

    // The whole test, with other waits and retry pauses.
    static bool runWith(const ToolTiming& timing);
};

}  // namespace crate_1v0_b_eu
}  // namespace Tests
}  // namespace bw_selftest

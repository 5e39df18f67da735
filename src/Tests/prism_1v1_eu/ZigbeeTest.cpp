// The Zigbee test of the prism 1v1 hubs.
#include "Tests/prism_1v1_eu/ZigbeeTest.hpp"

namespace bw_selftest {
namespace Tests {
namespace prism_1v1_eu {

bool ZigbeeTest::run() {
    return runWith(ToolTiming{});
}

bool ZigbeeTest::runWith(const ToolTiming& timing) {
    awaitRadioEntry("Zigbee", timing);
    return runTool("bw-drop zigbee-svc zigbee-selftest", timing);
}

}  // namespace prism_1v1_eu
}  // namespace Tests
}  // namespace bw_selftest

// The Z-Wave test of the crate hub: it only asks the radio for its version.
#include "Tests/crate_1v0_b_eu/ZWaveGetVersion.hpp"

namespace bw_selftest {
namespace Tests {
namespace crate_1v0_b_eu {

bool ZWaveGetVersion::run() {
    return runWith(ToolTiming{});
}

bool ZWaveGetVersion::runWith(const ToolTiming& timing) {
    awaitRadioEntry("Z-Wave", timing);
    return runTool("/usr/bin/bw-zw-flash --get-version -- /dev/brambleway/Z-Wave", timing);
}

}  // namespace crate_1v0_b_eu
}  // namespace Tests
}  // namespace bw_selftest

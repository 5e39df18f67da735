// The Z-Wave test of the prism hubs: NVR read, then the bridge flash.
#include "Tests/prism_1v0_1v1_eu/ZWaveFlashBridge.hpp"

namespace bw_selftest {
namespace Tests {
namespace prism_1v0_1v1_eu {

namespace {

constexpr const char* kReadNvr =
    "/usr/bin/bw-zw-flash --read-nvr /var/lib/brambleway/bw-selftest/nvr.bin --reset-pin 22 -- "
    "/dev/brambleway/Z-Wave";
constexpr const char* kFlashBridge =
    "/usr/bin/bw-zw-flash --bridge --erase-nvm --reset-pin 22 -- /dev/brambleway/Z-Wave";

}  // namespace

bool ZWaveFlashBridge::run() {
    return runWith(ToolTiming{});
}

bool ZWaveFlashBridge::runWith(const ToolTiming& timing) {
    awaitRadioEntry("Z-Wave", timing);
    if (!runTool(kReadNvr, timing)) {
        return false;
    }
    return runTool(kFlashBridge, timing);
}

}  // namespace prism_1v0_1v1_eu
}  // namespace Tests
}  // namespace bw_selftest

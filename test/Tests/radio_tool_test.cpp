// The external-tool tests: device waits, tool runs and retries against the simulated hub.
#include "Tests/crate_1v0_b_eu/ZWaveGetVersion.hpp"
#include "Tests/prism_1v0_1v1_eu/ZWaveFlashBridge.hpp"
#include "Tests/prism_1v1_eu/ZigbeeTest.hpp"

#include "HubCase.hpp"

namespace bw_selftest::Tests {
namespace {

using bw_sim::DeviceEntry;
using bw_sim::Outcome;
using bw_sim::Scenario;
using prism_1v0_1v1_eu::ZWaveFlashBridge;
using std::chrono::milliseconds;

const std::string kNvr =
    "/usr/bin/bw-zw-flash --read-nvr /var/lib/brambleway/bw-selftest/nvr.bin --reset-pin 22 -- "
    "/dev/brambleway/Z-Wave";
const std::string kFlash =
    "/usr/bin/bw-zw-flash --bridge --erase-nvm --reset-pin 22 -- /dev/brambleway/Z-Wave";
const std::string kVersion = "/usr/bin/bw-zw-flash --get-version -- /dev/brambleway/Z-Wave";
const std::string kZigbee = "bw-drop zigbee-svc zigbee-selftest";

// One wait of up to a second for each entry, and no pause between runs.
const ToolTiming kShort{1, 1000, 0};

bool flashBridge() {
    return ZWaveFlashBridge::runWith(kShort);
}

std::string waits(const std::string& entry, const char* directoryResult = ": OK",
                  const char* entryResult = ": OK") {
    return std::string("Waiting for /dev/brambleway") + directoryResult +
           "\nWaiting for /dev/brambleway/" + entry + entryResult + "\n";
}

// `count` runs of `command` with the narration between them.
std::string runs(const std::string& command, int count, int delay = 0) {
    std::string text = "Running " + command + "\n";
    for (int i = 1; i < count; ++i) {
        text += "Waiting " + std::to_string(delay) + "s to retry...\n\nRunning " + command + "\n";
    }
    return text;
}

std::vector<std::string> times(const std::string& command, std::size_t count) {
    return std::vector<std::string>(count, command);
}

TEST(ExternalTools, WaitForTheirRadioThenLetTheToolDecide) {
    const std::vector<std::string> nvrThenFlash{kNvr, kFlash};
    std::vector<std::string> twoNvrThenFlash = times(kNvr, 2);
    twoNvrThenFlash.push_back(kFlash);
    expectHubCases({
        {"entries present", Scenario(), flashBridge, true,
         waits("Z-Wave") + runs(kNvr, 1) + runs(kFlash, 1), nvrThenFlash},
        {"directory and entry appear late",
         Scenario()
             .deviceDirectory(DeviceEntry::after(milliseconds(100)))
             .zwave(DeviceEntry::after(milliseconds(300))),
         flashBridge, true, waits("Z-Wave") + runs(kNvr, 1) + runs(kFlash, 1), nvrThenFlash},
        {"directory never appears",
         Scenario().deviceDirectory(DeviceEntry::absent()).zwave(DeviceEntry::absent()),
         [] {
             return ZWaveFlashBridge::runWith({1, 200, 0});
         },
         false, waits("Z-Wave", ": Failed", ": Failed") + runs(kNvr, 4), times(kNvr, 4)},
        {"NVR read fails four times: no flash", Scenario().command(kNvr, Outcome::fails()),
         [] { return ZWaveFlashBridge("Z-Wave").run(); }, false, waits("Z-Wave") + runs(kNvr, 4, 5),
         times(kNvr, 4)},
        {"NVR read fails once", Scenario().command(kNvr, Outcome::failsTimes(1)), flashBridge, true,
         waits("Z-Wave") + runs(kNvr, 2) + runs(kFlash, 1), twoNvrThenFlash},
        {"bridge flash fails",
         Scenario().command(kFlash, Outcome::fails()),
         flashBridge,
         false,
         waits("Z-Wave") + runs(kNvr, 1) + runs(kFlash, 4),
         {kNvr, kFlash, kFlash, kFlash, kFlash}},
        {"Zigbee passes on its fourth run", Scenario().command(kZigbee, Outcome::failsTimes(3)),
         [] { return prism_1v1_eu::ZigbeeTest::runWith(kShort); }, true,
         waits("Zigbee") + runs(kZigbee, 4), times(kZigbee, 4)},
        {"Zigbee entry never appears", Scenario().zigbee(DeviceEntry::absent()),
         [] {
             return prism_1v1_eu::ZigbeeTest::runWith({1, 200, 0});
         },
         false, waits("Zigbee", ": OK", ": Failed") + runs(kZigbee, 4), times(kZigbee, 4)},
        {"version query",
         Scenario(),
         [] { return crate_1v0_b_eu::ZWaveGetVersion::runWith(kShort); },
         true,
         waits("Z-Wave") + runs(kVersion, 1),
         {kVersion}},
        {"version query fails", Scenario().command(kVersion, Outcome::fails()),
         [] { return crate_1v0_b_eu::ZWaveGetVersion::runWith(kShort); }, false,
         waits("Z-Wave") + runs(kVersion, 4), times(kVersion, 4)},
    });
}

}  // namespace
}  // namespace bw_selftest::Tests

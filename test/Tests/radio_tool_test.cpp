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

std::string waits(const std::string& entry, const std::string& result = ": OK") {
    return "Waiting for /dev/brambleway" + result + "\nWaiting for /dev/brambleway/" + entry +
           result + "\n";
}

// `count` runs of `command` with the narration between them.
std::string runs(const std::string& command, int count, int delay = 0) {
    std::string text = "Running " + command + "\n";
    for (int i = 1; i < count; ++i) {
        text += "Waiting " + std::to_string(delay) + "s to retry...\n\nRunning " + command + "\n";
    }
    return text;
}

TEST(ExternalTools, WaitForTheirRadioThenLetTheToolDecide) {
    const std::vector<std::string> four(4, kNvr);
    const std::string passes = waits("Z-Wave") + runs(kNvr, 1) + runs(kFlash, 1);
    // One wait of at most 400 ms per entry, and no pause between runs.
    const ToolTiming timing{1, 400, 0};
    expectHubCases(
        [&] { return ZWaveFlashBridge::runWith(timing); },
        {{"entries present", Scenario(), true, passes, {kNvr, kFlash}},
         {"directory and entry appear late",
          Scenario()
              .deviceDirectory(DeviceEntry::after(milliseconds(100)))
              .zwave(DeviceEntry::after(milliseconds(250))),
          true,
          passes,
          {kNvr, kFlash}},
         {"directory never appears", Scenario().deviceDirectory(DeviceEntry::absent()), false,
          waits("Z-Wave", ": Failed") + runs(kNvr, 4), four},
         {"NVR read fails four times, with the real pauses",
          Scenario().command(kNvr, Outcome::fails()), false, waits("Z-Wave") + runs(kNvr, 4, 5),
          four, [] { return ZWaveFlashBridge("Z-Wave").run(); }},
         {"bridge flash fails",
          Scenario().command(kFlash, Outcome::fails()),
          false,
          waits("Z-Wave") + runs(kNvr, 1) + runs(kFlash, 4),
          {kNvr, kFlash, kFlash, kFlash, kFlash}},
         {"Zigbee passes on its fourth run", Scenario().command(kZigbee, Outcome::failsTimes(3)),
          true, waits("Zigbee") + runs(kZigbee, 4), std::vector<std::string>(4, kZigbee),
          [&] { return prism_1v1_eu::ZigbeeTest::runWith(timing); }},
         {"version query",
          Scenario().command(kVersion, Outcome::failsTimes(1)),
          true,
          waits("Z-Wave") + runs(kVersion, 2),
          {kVersion, kVersion},
          [&] { return crate_1v0_b_eu::ZWaveGetVersion::runWith(timing); }}});
}

}  // namespace
}  // namespace bw_selftest::Tests

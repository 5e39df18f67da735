// The network test against the simulated hub's interfaces.
#include "Tests/Net.hpp"

#include "HubCase.hpp"

namespace bw_selftest::Tests {
namespace {

using bw_sim::Scenario;

bool ethernet() {
    return Net("Ethernet", "eth").run();
}

TEST(Net, ReadsTheAddressOfInterfaceZero) {
    const std::string ethLine = "Reading /sys/class/net/eth0/address: OK\n\n";
    expectHubCases({
        {"eth0 present",
         Scenario(),
         ethernet,
         true,
         ethLine + "eth0 found with MAC address = b8:27:eb:3c:4f:01\n",
         {}},
        {"wlan0 missing",
         Scenario().noInterface("wlan0"),
         [] { return Net("Wifi", "wlan").run(); },
         false,
         "Reading /sys/class/net/wlan0/address: Does not exist\n",
         {}},
        {"only 32 bytes are read",
         Scenario().interface("eth0", std::string(32, 'a') + "tail\n"),
         ethernet,
         true,
         ethLine + "eth0 found with MAC address = " + std::string(32, 'a') + "\n",
         {}},
        {"empty address",
         Scenario().interface("eth0", ""),
         ethernet,
         true,
         ethLine + "eth0 found with MAC address = \n",
         {}},
    });
}

}  // namespace
}  // namespace bw_selftest::Tests

// The network test against the simulated hub's interfaces.
#include "Tests/Net.hpp"

#include "HubCase.hpp"

namespace bw_selftest::Tests {
namespace {

using bw_sim::Scenario;

TEST(Net, ReadsTheAddressOfInterfaceZero) {
    const std::string found =
        "Reading /sys/class/net/eth0/address: OK\n\neth0 found with MAC address = ";
    const std::string a32(32, 'a');
    expectHubCases(
        [] { return Net("Ethernet", "eth").run(); },
        {{"eth0 present", Scenario(), true, found + "b8:27:eb:3c:4f:01\n"},
         {"wlan0 missing",
          Scenario().noInterface("wlan0"),
          false,
          "Reading /sys/class/net/wlan0/address: Does not exist\n",
          {},
          [] { return Net("Wifi", "wlan").run(); }},
         {"32 bytes read", Scenario().interface("eth0", a32 + "tail\n"), true, found + a32 + "\n"},
         {"empty address", Scenario().interface("eth0", ""), true, found + "\n"}});
}

}  // namespace
}  // namespace bw_selftest::Tests

// The network interface test: reads the MAC address of interface 0 of one kind from sysfs.
#pragma once

#include "Tests/Test.hpp"
#include "lib/util/StringView.hpp"

namespace bw_selftest {
namespace Tests {

class Net : public Test {
  public:
    // `interfacePrefix` names the kind: "eth" or "wlan".
    Net(CStringLiteralView name, CStringLiteralView interfacePrefix)
        : Test(name), interfacePrefix_(interfacePrefix) {}

    // Passes when /sys/class/net/<prefix>0/address can be read; the address is not judged.
    [[nodiscard]] bool run() override;

    CStringLiteralView interfacePrefix() const { return interfacePrefix_; }

  private:
    CStringLiteralView interfacePrefix_;
};

}  // namespace Tests
}  // namespace bw_selftest

// The network interface test.
#include "Tests/Net.hpp"

#include <cstddef>
#include <iostream>
#include <string>

#include "lib/rawio/RawIO.hpp"
#include "util/StringUtil.hpp"

namespace bw_selftest {
namespace Tests {

namespace {

constexpr std::size_t kMaxAddressBytes = 32;

}  // namespace

bool Net::run() {
    const std::string path = "/sys/class/net/" + interfacePrefix_.toString() + "0/address";
    std::cout << "Reading " << path;
    std::string address;
    const RawIO::Result result = RawIO::readFile(path.c_str(), address, kMaxAddressBytes);
    RawIO::printResult(result);
    std::cout.flush();
    if (result != RawIO::Result::OK) {
        return false;
    }
    trimRight(address);
    std::cout << std::endl;
    std::cout << interfacePrefix_ << "0 found with MAC address = " << address << std::endl;
    return true;
}

}  // namespace Tests
}  // namespace bw_selftest

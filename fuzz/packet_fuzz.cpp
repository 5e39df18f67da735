// A packet made from any bytes, every accessor, and its one-line description.
#include <cstdint>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>

#include "check.hpp"
#include "enocean/packet.hpp"

using bw_selftest::Address;
using bw_selftest::Packet;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // An exact copy, so that a read past the given length is caught.
    const auto length = static_cast<std::uint32_t>(std::min<std::size_t>(size, 0x20000));
    const std::unique_ptr<std::uint8_t[]> bytes(new std::uint8_t[length]);
    if (length != 0) {
        std::memcpy(bytes.get(), data, length);
    }
    const Packet packet(length == 0 ? nullptr : bytes.get(), length);

    BW_FUZZ_CHECK(packet.totalLength() ==
                  packet.dataLength() + packet.optionalLength() + Packet::kFrameOverhead);
    BW_FUZZ_CHECK(packet.totalLength() <= Packet::kMaxFrameLength);
    // Every area lies inside the frame.
    const std::uint8_t* const begin = packet.frame();
    const std::uint8_t* const end = begin + packet.totalLength();
    BW_FUZZ_CHECK(packet.optionalData() + packet.optionalLength() < end);
    const std::uint32_t userLength = packet.getUserDataLength();
    if (userLength != 0) {
        BW_FUZZ_CHECK(packet.getUserData() >= begin && packet.getUserData() + userLength <= end);
    }
    Packet::checkDataCRC(packet.frame(), packet.totalLength());

    std::uint8_t byte = 0;
    Address address = 0;
    std::uint8_t db[4] = {};
    static_cast<void>(packet.getRORG(byte));
    static_cast<void>(packet.getSenderID(address));
    static_cast<void>(packet.getDestinationID(address));
    static_cast<void>(packet.getDBm(byte));
    static_cast<void>(packet.getRPSData(byte));
    static_cast<void>(packet.get1BSData(byte));
    static_cast<void>(packet.get4BSData(db[0], db[1], db[2], db[3]));

    std::ostringstream description;
    description << packet;
    const std::string line = description.str();
    BW_FUZZ_CHECK(line.size() >= 2 && line.front() == '[' && line.back() == ']');
    BW_FUZZ_CHECK(line.find('\n') == std::string::npos);
    return 0;
}

// A packet made from any bytes, every accessor, and its one-line description.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "check.hpp"
#include "enocean/packet.hpp"
#include "line_check.hpp"

using bw_selftest::Address;
using bw_selftest::Packet;

extern "C" std::size_t LLVMFuzzerMutate(std::uint8_t* data, std::size_t size, std::size_t maxSize);

// The usual mutations, after which the data length the header claims is mostly brought within
// the input. A packet is as long as its header claims, whatever the input holds, so a claim
// of up to 64 KiB made every run as long as the claim while the paths it takes are those of a
// short one. One mutation in eight keeps its claim, so that long packets are still tried
// about as often per second as when every run had one.
extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size,
                                               std::size_t maxSize, unsigned chance) {
    size = LLVMFuzzerMutate(data, size, maxSize);
    const std::size_t claimed = size < 3 ? 0 : std::size_t{data[1]} << 8 | data[2];
    if (chance % 8 != 0 && claimed > size) {
        const std::size_t kept = claimed % (size + 1);
        data[1] = static_cast<std::uint8_t>(kept >> 8);
        data[2] = static_cast<std::uint8_t>(kept & 0xFFU);
    }
    return size;
}

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

    bw_fuzz::LineCheck line;
    line << packet;
    BW_FUZZ_CHECK(line.size() >= 2 && line.front() == '[' && line.back() == ']');
    BW_FUZZ_CHECK(!line.hasLineFeed());
    return 0;
}

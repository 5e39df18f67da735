// The module simulator's own ESP3 codec, written from the serial protocol and kept apart
// from the product's, so that a fault in either shows up as a disagreement.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace bw_sim::uart {

using Bytes = std::vector<std::uint8_t>;
using Id = std::array<std::uint8_t, 4>;  // an EnOcean ID in wire order

namespace esp3 {

constexpr std::uint8_t kSync = 0x55;
constexpr std::size_t kHeaderBytes = 6;  // sync, data length (2), optional length, type, CRC8H

constexpr std::uint8_t RADIO_ERP1 = 0x01;
constexpr std::uint8_t RESPONSE = 0x02;
constexpr std::uint8_t COMMON_COMMAND = 0x05;

constexpr std::uint8_t CO_RD_IDBASE = 0x08;

constexpr std::uint8_t RET_OK = 0x00;
constexpr std::uint8_t RET_ERROR = 0x01;
constexpr std::uint8_t RET_NOT_SUPPORTED = 0x02;

// CRC-8, polynomial 0x07, initial 0, computed bit by bit.
std::uint8_t crc8(const std::uint8_t* bytes, std::size_t count);
std::uint8_t crc8(const Bytes& bytes);

struct Frame {
    std::uint8_t type = 0;
    Bytes data;
    Bytes optional;

    bool operator==(const Frame& other) const {
        return type == other.type && data == other.data && optional == other.optional;
    }
    bool operator!=(const Frame& other) const { return !(*this == other); }
};

// The serial bytes of a frame, both CRCs included.
Bytes encode(const Frame& frame);

// What the module sends back: a RESPONSE with a return code and any further data.
Frame response(std::uint8_t returnCode, const Bytes& moreData = {}, const Bytes& optional = {});
// A received radio telegram as the module reports it: RORG, user data, sender, status;
// optional sub-telegram count, destination, dBm, security level.
Frame radioTelegram(std::uint8_t rorg, const Bytes& userData, const Id& sender,
                    const Id& destination, std::uint8_t dBm);

// Cuts a byte stream into frames with valid CRCs. A rejected candidate loses only its sync
// byte, so a frame starting inside it is still found. Bytes of an incomplete frame wait.
class Decoder {
  public:
    std::vector<Frame> feed(const std::uint8_t* bytes, std::size_t count);
    std::vector<Frame> feed(const Bytes& bytes) { return feed(bytes.data(), bytes.size()); }
    std::size_t pendingBytes() const { return pending_.size(); }

  private:
    Bytes pending_;
};

std::string hex(const Bytes& bytes);  // "55 00 01 ..."
std::ostream& operator<<(std::ostream& out, const Frame& frame);

}  // namespace esp3
}  // namespace bw_sim::uart

// ESP3 packets: the complete serial frame, built for sending, cut from the receive stream,
// or described as one line of text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <vector>

#include "enocean/Address.hpp"

namespace bw_selftest {

namespace PacketType {
constexpr std::uint8_t RADIO_ERP1 = 1;
constexpr std::uint8_t RESPONSE = 2;
constexpr std::uint8_t COMMON_COMMAND = 5;
}  // namespace PacketType

// Telegram types (RORG). Not BS1/BS4: termios.h takes those names as macros.
constexpr std::uint8_t RORG_RPS = 0xF6;
constexpr std::uint8_t RORG_1BS = 0xD5;
constexpr std::uint8_t RORG_4BS = 0xA5;

// COMMON_COMMAND code that asks the module for its base ID.
constexpr std::uint8_t CO_RD_IDBASE = 0x08;

// Frame layout: 55 | data length (2, big-endian) | optional length | type | CRC8H | data |
// optional data | CRC8D.
class Packet {
  public:
    static constexpr std::uint8_t kSyncByte = 0x55;
    static constexpr std::uint32_t kHeaderSize = 6;  // sync byte to CRC8H
    static constexpr std::uint32_t kFrameOverhead = 7;
    static constexpr std::uint32_t kMaxDataLength = 0xFFFF;
    static constexpr std::uint32_t kMaxOptionalLength = 0xFF;
    static constexpr std::uint32_t kMaxFrameLength =
        kMaxDataLength + kMaxOptionalLength + kFrameOverhead;
    // Bytes a radio telegram carries besides its user data: RORG, sender ID, status.
    static constexpr std::uint32_t kRadioDataOverhead = 6;
    // Optional data of a radio telegram: sub-telegram number, destination, dBm, security.
    static constexpr std::uint32_t kRadioOptionalLength = 7;
    static constexpr std::uint8_t kNoSignalStrength = 0xFF;

    // A complete frame with both CRCs; either area is left zero when its pointer is null.
    Packet(std::uint8_t type, const std::uint8_t* data, std::uint32_t dataLength,
           const std::uint8_t* optional, std::uint32_t optionalLength);
    // Header only: the areas are zero and CRC8D is left for updateDataCRC.
    Packet(std::uint8_t type, std::uint32_t dataLength, std::uint32_t optionalLength);
    // A received frame. Its size comes from its header; bytes beyond `length` read as zero,
    // so no accessor can reach outside the frame whatever the arguments say. CRCs unchecked.
    Packet(const std::uint8_t* bytes, std::uint32_t length);
    // A radio telegram (RADIO_ERP1) with status 0, sub-telegram 3 and no signal strength.
    Packet(std::uint8_t rorg, const std::uint8_t* userData, std::uint32_t userDataLength,
           Address sender, Address destination);

    // Lengths are clamped to what the frame can express.
    void writeHeader(std::uint32_t dataLength, std::uint32_t optionalLength, std::uint8_t type);
    void updateDataCRC();
    // Writes the sending optional data; CRC8D is left to updateDataCRC.
    void setRadioOptionalData(Address destination);

    static std::uint8_t crc8(const std::uint8_t* bytes, std::size_t count);
    // Running CRCs: running[i + 1] is the CRC after bytes[i], going on from running[0].
    // With them the CRC of any stretch follows without reading its bytes again (crc8Of).
    static void crc8Running(const std::uint8_t* bytes, std::size_t count, std::uint8_t* running);
    // The CRC of the `count` bytes between two running CRCs: the first taken before them,
    // the second after. Its cost grows with the bits of `count`, not with `count`.
    static std::uint8_t crc8Of(std::uint8_t before, std::uint8_t after, std::uint32_t count);
    static bool checkHeaderCRC(const std::uint8_t* frame);
    // `length` is the whole frame's.
    static bool checkDataCRC(const std::uint8_t* frame, std::uint32_t length);
    static std::uint32_t frameLengthFromHeader(const std::uint8_t* frame);

    std::uint32_t dataLength() const { return dataLength_; }
    std::uint32_t optionalLength() const { return optionalLength_; }
    std::uint32_t totalLength() const { return totalLength_; }
    std::uint8_t packetType() const { return frame_[4]; }
    const std::uint8_t* frame() const { return frame_.data(); }
    std::uint8_t* frame() { return frame_.data(); }
    const std::uint8_t* data() const { return frame_.data() + kHeaderSize; }
    std::uint8_t* data() { return frame_.data() + kHeaderSize; }
    const std::uint8_t* optionalData() const { return data() + dataLength_; }
    std::uint8_t* optionalData() { return data() + dataLength_; }

    bool isRadioTelegram() const;
    std::uint32_t getUserDataLength() const;
    const std::uint8_t* getUserData() const;

    // These write `out` only when they return true; get1BSData is the exception: it writes
    // whenever there is data and returns whether the telegram is 1BS.
    [[nodiscard]] bool getRORG(std::uint8_t& out) const;
    [[nodiscard]] bool getSenderID(Address& out) const;
    [[nodiscard]] bool getDestinationID(Address& out) const;
    [[nodiscard]] bool getDBm(std::uint8_t& out) const;
    [[nodiscard]] bool getRPSData(std::uint8_t& out) const;
    [[nodiscard]] bool get1BSData(std::uint8_t& out) const;
    [[nodiscard]] bool get4BSData(std::uint8_t& db3, std::uint8_t& db2, std::uint8_t& db1,
                                  std::uint8_t& db0) const;

  private:
    bool isType(std::uint8_t type) const { return packetType() == type; }

    std::uint32_t dataLength_ = 0;
    std::uint32_t optionalLength_ = 0;
    std::uint32_t totalLength_ = 0;
    std::vector<std::uint8_t> frame_;
};

// One line: "[RORG=0xA5, Sender=0x..., Destaddr=0x..., Data=0x..., Power=-NNdBm (word)]" for
// radio telegrams, "[type data optional]" in hex for anything else.
std::ostream& operator<<(std::ostream& out, const Packet& packet);

}  // namespace bw_selftest

// ESP3 frames: construction, CRC-8 and the accessors.
#include "enocean/packet.hpp"

#include <algorithm>
#include <array>
#include <cstring>

namespace bw_selftest {

namespace {

constexpr std::uint8_t kCrcPolynomial = 0x07;  // x^8 + x^2 + x + 1

constexpr std::array<std::uint8_t, 256> makeCrcTable() {
    std::array<std::uint8_t, 256> table{};
    for (unsigned i = 0; i < table.size(); ++i) {
        unsigned crc = i;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x80U) != 0 ? (crc << 1) ^ kCrcPolynomial : crc << 1;
            crc &= 0xFFU;
        }
        table[i] = static_cast<std::uint8_t>(crc);
    }
    return table;
}

constexpr std::array<std::uint8_t, 256> kCrcTable = makeCrcTable();

// a * b modulo the polynomial. The CRC is linear, so a CRC carried over n zero bytes is
// itself times x^(8n), and a stretch's CRC is the running CRC after it minus that.
constexpr std::uint8_t crcMultiply(std::uint8_t a, std::uint8_t b) {
    unsigned product = 0;
    for (unsigned bit = 8; bit-- > 0;) {
        product = (product & 0x80U) != 0 ? (product << 1) ^ kCrcPolynomial : product << 1;
        product &= 0xFFU;
        if ((unsigned{b} >> bit & 1U) != 0) {
            product ^= unsigned{a};
        }
    }
    return static_cast<std::uint8_t>(product);
}

// kZeroTables[k][c] is c carried over 2^k zero bytes: c times x^(8 * 2^k), where one zero
// byte is x^8 and each next power squares the one before.
using ZeroTables = std::array<std::array<std::uint8_t, 256>, 32>;

constexpr ZeroTables makeZeroTables() {
    ZeroTables tables{};
    std::uint8_t power = kCrcTable[1];
    for (auto& table : tables) {
        for (unsigned c = 0; c < table.size(); ++c) {
            table[c] = crcMultiply(static_cast<std::uint8_t>(c), power);
        }
        power = crcMultiply(power, power);
    }
    return tables;
}

constexpr ZeroTables kZeroTables = makeZeroTables();

constexpr std::uint8_t kSubTelegramNumber = 3;
constexpr std::uint8_t kSecurityLevel = 0;
constexpr std::uint8_t kTelegramStatus = 0;

// Offsets of the header fields from the sync byte.
constexpr std::size_t kDataLengthHigh = 1;
constexpr std::size_t kDataLengthLow = 2;
constexpr std::size_t kOptionalLengthAt = 3;
constexpr std::size_t kTypeAt = 4;
constexpr std::size_t kHeaderCrcAt = 5;
constexpr std::size_t kHeaderCrcCount = 4;

std::uint8_t byteAt(const std::uint8_t* bytes, std::uint32_t length, std::size_t index) {
    return bytes != nullptr && index < length ? bytes[index] : 0;
}

}  // namespace

Packet::Packet(std::uint8_t type, const std::uint8_t* data, std::uint32_t dataLength,
               const std::uint8_t* optional, std::uint32_t optionalLength) {
    writeHeader(dataLength, optionalLength, type);
    if (data != nullptr) {
        std::memcpy(this->data(), data, dataLength_);
    }
    if (optional != nullptr) {
        std::memcpy(optionalData(), optional, optionalLength_);
    }
    updateDataCRC();
}

Packet::Packet(std::uint8_t type, std::uint32_t dataLength, std::uint32_t optionalLength) {
    writeHeader(dataLength, optionalLength, type);
}

Packet::Packet(const std::uint8_t* bytes, std::uint32_t length) {
    dataLength_ = static_cast<std::uint32_t>(byteAt(bytes, length, kDataLengthHigh)) << 8 |
                  byteAt(bytes, length, kDataLengthLow);
    optionalLength_ = byteAt(bytes, length, kOptionalLengthAt);
    totalLength_ = dataLength_ + optionalLength_ + kFrameOverhead;
    frame_.assign(totalLength_, 0);
    if (bytes != nullptr) {
        std::memcpy(frame_.data(), bytes, std::min(length, totalLength_));
    }
}

Packet::Packet(std::uint8_t rorg, const std::uint8_t* userData, std::uint32_t userDataLength,
               Address sender, Address destination)
    : Packet(PacketType::RADIO_ERP1,
             std::min(userDataLength, kMaxDataLength - kRadioDataOverhead) + kRadioDataOverhead,
             kRadioOptionalLength) {
    const std::uint32_t userLength = dataLength_ - kRadioDataOverhead;
    std::uint8_t* out = data();
    *out++ = rorg;
    if (userData != nullptr) {
        std::memcpy(out, userData, userLength);
    }
    out += userLength;
    std::memcpy(out, &sender, sizeof sender);
    out += sizeof sender;
    *out = kTelegramStatus;
    setRadioOptionalData(destination);
    updateDataCRC();
}

void Packet::writeHeader(std::uint32_t dataLength, std::uint32_t optionalLength,
                         std::uint8_t type) {
    dataLength_ = std::min(dataLength, kMaxDataLength);
    optionalLength_ = std::min(optionalLength, kMaxOptionalLength);
    totalLength_ = dataLength_ + optionalLength_ + kFrameOverhead;
    frame_.assign(totalLength_, 0);
    frame_[0] = kSyncByte;
    frame_[kDataLengthHigh] = static_cast<std::uint8_t>(dataLength_ >> 8);
    frame_[kDataLengthLow] = static_cast<std::uint8_t>(dataLength_ & 0xFFU);
    frame_[kOptionalLengthAt] = static_cast<std::uint8_t>(optionalLength_);
    frame_[kTypeAt] = type;
    frame_[kHeaderCrcAt] = crc8(frame_.data() + kDataLengthHigh, kHeaderCrcCount);
}

void Packet::updateDataCRC() {
    frame_[totalLength_ - 1] = crc8(data(), dataLength_ + optionalLength_);
}

void Packet::setRadioOptionalData(Address destination) {
    // A packet made for something else may have fewer optional bytes; never write past them.
    if (optionalLength_ < kRadioOptionalLength) {
        return;
    }
    std::uint8_t* out = optionalData();
    *out++ = kSubTelegramNumber;
    std::memcpy(out, &destination, sizeof destination);
    out += sizeof destination;
    *out++ = kNoSignalStrength;
    *out = kSecurityLevel;
}

std::uint8_t Packet::crc8(const std::uint8_t* bytes, std::size_t count) {
    std::uint8_t crc = 0;
    for (std::size_t i = 0; i < count; ++i) {
        crc = kCrcTable[crc ^ bytes[i]];
    }
    return crc;
}

void Packet::crc8Running(const std::uint8_t* bytes, std::size_t count, std::uint8_t* running) {
    std::uint8_t crc = running[0];
    for (std::size_t i = 0; i < count; ++i) {
        crc = kCrcTable[crc ^ bytes[i]];
        running[i + 1] = crc;
    }
}

std::uint8_t Packet::crc8Of(std::uint8_t before, std::uint8_t after, std::uint32_t count) {
    std::uint8_t carried = before;
    for (std::size_t k = 0; count != 0; ++k, count >>= 1U) {
        if ((count & 1U) != 0) {
            carried = kZeroTables[k][carried];
        }
    }
    return static_cast<std::uint8_t>(after ^ carried);
}

bool Packet::checkHeaderCRC(const std::uint8_t* frame) {
    return crc8(frame + kDataLengthHigh, kHeaderCrcCount) == frame[kHeaderCrcAt];
}

bool Packet::checkDataCRC(const std::uint8_t* frame, std::uint32_t length) {
    if (length < kFrameOverhead) {
        return false;
    }
    return crc8(frame + kHeaderSize, length - kFrameOverhead) == frame[length - 1];
}

std::uint32_t Packet::frameLengthFromHeader(const std::uint8_t* frame) {
    return (static_cast<std::uint32_t>(frame[kDataLengthHigh]) << 8 | frame[kDataLengthLow]) +
           frame[kOptionalLengthAt] + kFrameOverhead;
}

bool Packet::isRadioTelegram() const {
    return isType(PacketType::RADIO_ERP1) && dataLength_ > kRadioDataOverhead;
}

std::uint32_t Packet::getUserDataLength() const {
    return isRadioTelegram() ? dataLength_ - kRadioDataOverhead : 0;
}

const std::uint8_t* Packet::getUserData() const {
    return isRadioTelegram() ? data() + 1 : nullptr;
}

bool Packet::getRORG(std::uint8_t& out) const {
    if (!isType(PacketType::RADIO_ERP1) || dataLength_ == 0) {
        return false;
    }
    out = data()[0];
    return true;
}

bool Packet::getSenderID(Address& out) const {
    if (!isRadioTelegram()) {
        return false;
    }
    std::memcpy(&out, data() + dataLength_ - 5, sizeof out);
    return true;
}

bool Packet::getDestinationID(Address& out) const {
    if (!isType(PacketType::RADIO_ERP1) || optionalLength_ < kRadioOptionalLength) {
        return false;
    }
    std::memcpy(&out, optionalData() + 1, sizeof out);
    return true;
}

bool Packet::getDBm(std::uint8_t& out) const {
    if (!isType(PacketType::RADIO_ERP1) || optionalLength_ < kRadioOptionalLength) {
        return false;
    }
    out = optionalData()[5];
    return true;
}

bool Packet::getRPSData(std::uint8_t& out) const {
    if (!isType(PacketType::RADIO_ERP1) || dataLength_ <= 1 || data()[0] != RORG_RPS) {
        return false;
    }
    out = data()[1];
    return true;
}

bool Packet::get1BSData(std::uint8_t& out) const {
    if (!isType(PacketType::RADIO_ERP1) || dataLength_ == 0) {
        return false;
    }
    out = data()[1];
    return data()[0] == RORG_1BS;
}

bool Packet::get4BSData(std::uint8_t& db3, std::uint8_t& db2, std::uint8_t& db1,
                        std::uint8_t& db0) const {
    if (getUserDataLength() <= 3 || data()[0] != RORG_4BS) {
        return false;
    }
    db3 = data()[1];
    db2 = data()[2];
    db1 = data()[3];
    db0 = data()[4];
    return true;
}

}  // namespace bw_selftest

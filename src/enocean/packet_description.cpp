// The one-line description of a packet used in the exchange reports.
#include <ostream>
#include <string>

#include "enocean/packet.hpp"

namespace bw_selftest {

namespace {

// Signal strength at or below these many dBm under zero counts as high, then medium.
constexpr std::uint8_t kHighSignalLimit = 65;
constexpr std::uint8_t kMediumSignalLimit = 79;

std::string hex(const std::uint8_t* bytes, std::uint32_t count) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(2 * std::size_t{count});
    for (std::uint32_t i = 0; i < count; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0x0FU];
    }
    return text;
}

std::string hexOrDashes(const std::uint8_t* bytes, std::uint32_t count) {
    return count == 0 ? std::string("---") : hex(bytes, count);
}

const char* signalQuality(std::uint8_t dBm) {
    if (dBm <= kHighSignalLimit) {
        return "high";
    }
    if (dBm <= kMediumSignalLimit) {
        return "medium";
    }
    return "low";
}

void describeRadio(std::ostream& out, const Packet& packet, std::uint8_t rorg, Address sender,
                   Address destination) {
    out << "RORG=0x" << hex(&rorg, 1);
    if (sender != kNoAddress) {
        out << ", Sender=0x" << addressToString(sender);
    }
    if (destination != kNoAddress && destination != kBroadcastAddress) {
        out << ", Destaddr=0x" << addressToString(destination);
    }
    out << ", Data=0x" << hex(packet.getUserData(), packet.getUserDataLength());
    std::uint8_t dBm = Packet::kNoSignalStrength;
    if (packet.getDBm(dBm) && dBm != Packet::kNoSignalStrength) {
        // to_string: the caller's stream flags (hex, width) must not change the number.
        out << ", Power=-" << std::to_string(dBm) << "dBm (" << signalQuality(dBm) << ")";
    }
}

}  // namespace

std::ostream& operator<<(std::ostream& out, const Packet& packet) {
    out << "[";
    std::uint8_t rorg = 0;
    Address sender = kNoAddress;
    Address destination = kNoAddress;
    if (packet.getRORG(rorg) && packet.getSenderID(sender) &&
        packet.getDestinationID(destination)) {
        describeRadio(out, packet, rorg, sender, destination);
    } else {
        const std::uint8_t type = packet.packetType();
        out << hex(&type, 1) << " " << hexOrDashes(packet.data(), packet.dataLength()) << " "
            << hexOrDashes(packet.optionalData(), packet.optionalLength());
    }
    return out << "]";
}

}  // namespace bw_selftest

// ESP3 framing for the module simulator.
#include "uart/Esp3.hpp"

#include <cstdio>
#include <ostream>

namespace bw_sim::uart::esp3 {

namespace {

constexpr unsigned kPolynomial = 0x07;
constexpr std::uint8_t kSubTelegrams = 1;
constexpr std::uint8_t kSecurityLevel = 0;
constexpr std::uint8_t kStatus = 0;

std::size_t bigEndian16(const std::uint8_t* bytes) {
    return std::size_t{bytes[0]} << 8 | bytes[1];
}

}  // namespace

std::uint8_t crc8(const std::uint8_t* bytes, std::size_t count) {
    unsigned crc = 0;
    for (std::size_t i = 0; i < count; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x80U) != 0 ? ((crc << 1) ^ kPolynomial) & 0xFFU : (crc << 1) & 0xFFU;
        }
    }
    return static_cast<std::uint8_t>(crc);
}

std::uint8_t crc8(const Bytes& bytes) {
    return crc8(bytes.data(), bytes.size());
}

Bytes encode(const Frame& frame) {
    Bytes out;
    out.reserve(kHeaderBytes + frame.data.size() + frame.optional.size() + 1);
    out.push_back(kSync);
    out.push_back(static_cast<std::uint8_t>(frame.data.size() >> 8));
    out.push_back(static_cast<std::uint8_t>(frame.data.size() & 0xFFU));
    out.push_back(static_cast<std::uint8_t>(frame.optional.size()));
    out.push_back(frame.type);
    out.push_back(crc8(out.data() + 1, 4));
    const std::size_t dataStart = out.size();
    out.insert(out.end(), frame.data.begin(), frame.data.end());
    out.insert(out.end(), frame.optional.begin(), frame.optional.end());
    out.push_back(crc8(out.data() + dataStart, out.size() - dataStart));
    return out;
}

Frame response(std::uint8_t returnCode, const Bytes& moreData, const Bytes& optional) {
    Frame frame{RESPONSE, {returnCode}, optional};
    frame.data.insert(frame.data.end(), moreData.begin(), moreData.end());
    return frame;
}

Frame radioTelegram(std::uint8_t rorg, const Bytes& userData, const Id& sender,
                    const Id& destination, std::uint8_t dBm) {
    Frame frame{RADIO_ERP1, {rorg}, {kSubTelegrams}};
    frame.data.insert(frame.data.end(), userData.begin(), userData.end());
    frame.data.insert(frame.data.end(), sender.begin(), sender.end());
    frame.data.push_back(kStatus);
    frame.optional.insert(frame.optional.end(), destination.begin(), destination.end());
    frame.optional.push_back(dBm);
    frame.optional.push_back(kSecurityLevel);
    return frame;
}

std::vector<Frame> Decoder::feed(const std::uint8_t* bytes, std::size_t count) {
    pending_.insert(pending_.end(), bytes, bytes + count);
    std::vector<Frame> frames;
    std::size_t pos = 0;
    for (;;) {
        while (pos < pending_.size() && pending_[pos] != kSync) {
            ++pos;
        }
        if (pending_.size() - pos < kHeaderBytes) {
            break;
        }
        const std::uint8_t* header = pending_.data() + pos;
        if (crc8(header + 1, 4) != header[5]) {
            ++pos;
            continue;
        }
        const std::size_t dataLength = bigEndian16(header + 1);
        const std::size_t optionalLength = header[3];
        const std::size_t total = kHeaderBytes + dataLength + optionalLength + 1;
        if (pending_.size() - pos < total) {
            break;
        }
        const std::uint8_t* body = header + kHeaderBytes;
        if (crc8(body, dataLength + optionalLength) != body[dataLength + optionalLength]) {
            ++pos;
            continue;
        }
        Frame frame;
        frame.type = header[4];
        frame.data.assign(body, body + dataLength);
        frame.optional.assign(body + dataLength, body + dataLength + optionalLength);
        frames.push_back(std::move(frame));
        pos += total;
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(pos));
    return frames;
}

std::string hex(const Bytes& bytes) {
    std::string text;
    for (const std::uint8_t byte : bytes) {
        char digits[4];
        std::snprintf(digits, sizeof digits, "%02X", byte);
        if (!text.empty()) {
            text += ' ';
        }
        text += digits;
    }
    return text;
}

std::ostream& operator<<(std::ostream& out, const Frame& frame) {
    return out << "{type " << unsigned{frame.type} << ", data [" << hex(frame.data)
               << "], optional [" << hex(frame.optional) << "]}";
}

}  // namespace bw_sim::uart::esp3

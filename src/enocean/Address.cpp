// Text form of EnOcean IDs.
#include "enocean/Address.hpp"

#include <cstring>

namespace bw_selftest {

namespace {
constexpr std::size_t kAddressBytes = sizeof(Address);
constexpr std::size_t kAddressTextLength = 2 * kAddressBytes;
}  // namespace

std::string addressToString(Address address) {
    unsigned char bytes[kAddressBytes];
    std::memcpy(bytes, &address, kAddressBytes);
    std::string text;
    text.reserve(kAddressTextLength);
    static const char digits[] = "0123456789ABCDEF";
    for (const unsigned char byte : bytes) {
        text += digits[byte >> 4U];
        text += digits[byte & 0x0FU];
    }
    return text;
}

Address addressFromString(TemporaryStringView text) {
    if (text.size() != kAddressTextLength) {
        return kNoAddress;
    }
    unsigned char bytes[kAddressBytes] = {};
    for (std::size_t i = 0; i < kAddressBytes; ++i) {
        // The view need not end in a NUL, so each pair is scanned from its own copy.
        const char pair[3] = {text[2 * i], text[2 * i + 1], '\0'};
        unsigned int value = 0;
        if (std::sscanf(pair, "%02x", &value) == 1) {
            bytes[i] = static_cast<unsigned char>(value & 0xFFU);
        }
    }
    Address address = kNoAddress;
    std::memcpy(&address, bytes, kAddressBytes);
    return address;
}

}  // namespace bw_selftest

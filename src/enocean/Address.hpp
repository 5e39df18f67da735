// EnOcean IDs: four bytes in wire order, carried as one 32-bit value.
#pragma once

#include <cstdint>
#include <string>

#include "lib/util/StringView.hpp"

namespace bw_selftest {

// The four ID bytes exactly as they travel in a frame; never byte-swapped. Its memory image
// is the wire order, so on the little-endian hubs the ID written DEADBEEF is 0xEFBEADDE.
using Address = std::uint32_t;

constexpr Address kNoAddress = 0;
constexpr Address kBroadcastAddress = 0xFFFFFFFFU;

// Eight upper-case hex digits, first wire byte first; no prefix.
std::string addressToString(Address address);

// The inverse; 0 unless the text has exactly 8 characters. A pair that is not hex gives 0
// for its byte only.
Address addressFromString(TemporaryStringView text);

}  // namespace bw_selftest

// EnOcean IDs from any text, and the round trip through their text form.
#include <cctype>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "check.hpp"
#include "enocean/Address.hpp"

using bw_selftest::Address;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // An exact copy without a NUL after it: the parser must keep to the view.
    const std::unique_ptr<char[]> text(new char[size == 0 ? 1 : size]);
    if (size != 0) {
        std::memcpy(text.get(), data, size);
    }
    const Address parsed = bw_selftest::addressFromString({text.get(), size});
    if (size != 8) {
        BW_FUZZ_CHECK(parsed == bw_selftest::kNoAddress);
    }

    bool hexDigits = size == 8;
    std::string upper;
    for (std::size_t i = 0; i < size && hexDigits; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        hexDigits = std::isxdigit(c) != 0;
        upper += static_cast<char>(std::toupper(c));
    }
    if (hexDigits) {
        BW_FUZZ_CHECK(bw_selftest::addressToString(parsed) == upper);
    }

    if (size >= sizeof(Address)) {
        Address address = 0;
        std::memcpy(&address, data, sizeof address);
        const std::string written = bw_selftest::addressToString(address);
        BW_FUZZ_CHECK(written.size() == 8);
        BW_FUZZ_CHECK(bw_selftest::addressFromString(written) == address);
    }
    return 0;
}

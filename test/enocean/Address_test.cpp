#include "enocean/Address.hpp"

#include <gtest/gtest.h>

namespace bw_selftest {
namespace {

TEST(Address, FormatsTheWireBytesInOrder) {
    EXPECT_EQ("DEADBEEF", addressToString(0xEFBEADDE));
    EXPECT_EQ("00000000", addressToString(0));
    EXPECT_EQ("FFFFFFFF", addressToString(0xFFFFFFFF));
    EXPECT_EQ("0A0B0C0D", addressToString(0x0D0C0B0A));
}

TEST(Address, ParsesEitherCaseBackToTheSameValue) {
    EXPECT_EQ(0xEFBEADDEU, addressFromString(std::string("deadbeef")));
    EXPECT_EQ(0xEFBEADDEU, addressFromString(std::string("DEADBEEF")));
    EXPECT_EQ("DEADBEEF", addressToString(addressFromString(std::string("dEaDbEeF"))));
}

TEST(Address, AnythingButEightCharactersIsZero) {
    EXPECT_EQ(0U, addressFromString(std::string("DEADBEE")));
    EXPECT_EQ(0U, addressFromString(std::string("DEADBEEF0")));
    EXPECT_EQ(0U, addressFromString(std::string("")));
}

TEST(Address, APairThatIsNotHexZeroesOnlyItsByte) {
    EXPECT_EQ(0x00BEADDEU, addressFromString(std::string("DEADBEZZ")));
    EXPECT_EQ(0xEFBE00DEU, addressFromString(std::string("DEXXBEEF")));
}

TEST(Address, ReadsOnlyTheViewedCharacters) {
    const char text[] = "DEADBEEF12";
    EXPECT_EQ(0xEFBEADDEU, addressFromString(TemporaryStringView(text, 8)));
    EXPECT_EQ(0U, addressFromString(TemporaryStringView(text, 10)));
}

}  // namespace
}  // namespace bw_selftest

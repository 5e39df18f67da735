#include "lib/util/StringView.hpp"

#include <gtest/gtest.h>

#include <iomanip>
#include <sstream>

namespace bw_selftest {
namespace {

TEST(StringView, EqualWhenSameBytesInDifferentBuffers) {
    const char first[] = {'e', 't', 'h'};
    const std::string second = "eth";
    EXPECT_TRUE(TemporaryStringView(first, 3) == TemporaryStringView(second));
    EXPECT_FALSE(TemporaryStringView(first, 3) == TemporaryStringView("eth0", 4));
    EXPECT_FALSE(TemporaryStringView("eth", 3) == TemporaryStringView("ETH", 3));
}

TEST(StringView, TerminatedAndUnterminatedTextsCompareEqual) {
    const char raw[] = {'w', 'l', 'a', 'n', 'X'};
    EXPECT_TRUE(TemporaryCStringView("wlan") == TemporaryStringView(raw, 4));
}

TEST(StringView, NullCStringIsEmptyAndEqualsOtherEmptyViews) {
    const TemporaryCStringView null(static_cast<const char*>(nullptr));
    EXPECT_EQ(0U, null.size());
    EXPECT_TRUE(null == TemporaryStringView());
    EXPECT_TRUE(null == TemporaryCStringView(""));
    EXPECT_EQ('\0', null.data()[0]);
}

TEST(StringView, LiteralViewKnowsItsLengthAndConverts) {
    const CStringLiteralView name("Z-Wave");
    EXPECT_EQ(6U, name.size());
    EXPECT_EQ('e', name[5]);
    EXPECT_EQ("Z-Wave", name.toString());
    const TemporaryCStringView asC = name;
    EXPECT_EQ('\0', asC.data()[asC.size()]);
}

TEST(StringView, StreamsExactlyItsCharactersIgnoringFieldWidth) {
    const char text[] = {'a', '\0', 'b', 'c'};
    std::ostringstream out;
    out << std::setw(10) << TemporaryStringView(text, 3);
    EXPECT_EQ(std::string("a\0b", 3), out.str());
}

}  // namespace
}  // namespace bw_selftest

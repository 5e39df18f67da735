#include "util/StringUtil.hpp"

#include <gtest/gtest.h>

namespace bw_selftest {
namespace {

std::string trimmed(std::string text) {
    trimRight(text);
    return text;
}

TEST(TrimRight, RemovesTrailingWhiteSpaceOnly) {
    EXPECT_EQ("word", trimmed("word\n"));
    EXPECT_EQ("word", trimmed("word\r\n"));
    EXPECT_EQ("word", trimmed("word \t\v\f\r\n"));
    EXPECT_EQ("", trimmed("   "));
    EXPECT_EQ("", trimmed(""));
    EXPECT_EQ(" a b", trimmed(" a b  "));
}

TEST(TrimRight, TreatsHighBytesAsText) {
    EXPECT_EQ("caf\xC3\xA9", trimmed("caf\xC3\xA9\n"));
    EXPECT_EQ("\xA0", trimmed("\xA0"));
}

TEST(Center, BannerOfWidth80) {
    EXPECT_EQ(std::string(37, '=') + " Ethe " + std::string(37, '='),
              center(std::string("Ethe"), '=', 80));
    EXPECT_EQ(std::string(37, '=') + " RTC " + std::string(38, '='),
              center(std::string("RTC"), '=', 80));
    EXPECT_EQ(std::string(39, '=') + "  " + std::string(39, '='), center(std::string(), '=', 80));
    const std::string t77(77, 'x');
    EXPECT_EQ(" " + t77 + " =", center(t77, '=', 80));
    const std::string t78(78, 'x');
    EXPECT_EQ(t78, center(t78, '=', 80));
    const std::string t200(200, 'y');
    EXPECT_EQ(t200, center(t200, '=', 80));
}

TEST(Center, SmallWidths) {
    EXPECT_EQ("abcd", center(std::string("abcd"), '-', 6));
    EXPECT_EQ(" abcd -", center(std::string("abcd"), '-', 7));
    EXPECT_EQ("abcd", center(std::string("abcd"), '-', 0));
    EXPECT_EQ("- a ---", center(std::string("a"), '-', 7));
}

TEST(Center, AlwaysFillsTheWidthWhenItFits) {
    for (std::size_t width = 3; width < 20; ++width) {
        for (std::size_t size = 0; size + 2 < width; ++size) {
            const std::string line = center(std::string(size, 'x'), '=', width);
            ASSERT_EQ(width, line.size()) << "size " << size << " width " << width;
            const std::size_t first = line.find('x');
            if (size > 0) {
                EXPECT_EQ(' ', line[first - 1]);
                EXPECT_EQ(' ', line[first + size]);
                const std::size_t left = first - 1;
                const std::size_t right = width - first - size - 1;
                EXPECT_EQ(right, left + width % 2 + size % 2)
                    << "size " << size << " width " << width;
            }
        }
    }
}

}  // namespace
}  // namespace bw_selftest

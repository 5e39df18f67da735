// How log bytes reach the records: markup and control characters escaped, well-formed UTF-8
// kept byte for byte, and one U+FFFD for every byte that does not decode.
#include <gtest/gtest.h>

#include <string>

#include "record/Text.hpp"

namespace {

#define R "\xEF\xBF\xBD"  // U+FFFD

struct Case {
    const char* what;
    std::string bytes;
    std::string xmlText;
    std::string xmlAttribute;
    std::string json;
};

const Case kCases[] = {
    {"nothing", "", "", "", "\"\""},
    {"markup", "a&b<c>\"d'", "a&amp;b&lt;c&gt;\"d'", "a&amp;b&lt;c&gt;&quot;d'",
     "\"a&b<c>\\\"d'\""},
    {"backslash", "a\\b", "a\\b", "a\\b", "\"a\\\\b\""},
    {"tab, line feed, CR", "\t\n\r", "\t\n&#13;", "&#9;&#10;&#13;", "\"\\u0009\\n\\u000d\""},
    {"other controls and DEL", std::string("\x01\x1f\x7f", 3) + std::string(1, '\0'), R R "\x7f" R,
     R R "\x7f" R, "\"\\u0001\\u001f\x7f\\u0000\""},
    {"two-, three- and four-byte characters", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80",
     "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80",
     "\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\""},
    {"the highest character and U+FFFD itself", "\xF4\x8F\xBF\xBF" R, "\xF4\x8F\xBF\xBF" R,
     "\xF4\x8F\xBF\xBF" R, "\"\xF4\x8F\xBF\xBF" R "\""},
    {"overlong forms", "\xC0\xAF\xE0\x80\xAF", R R R R R, R R R R R, "\"" R R R R R "\""},
    {"a surrogate", "\xED\xA0\x80", R R R, R R R, "\"" R R R "\""},
    {"past U+10FFFF", "\xF4\x90\x80\x80", R R R R, R R R R, "\"" R R R R "\""},
    {"a cut character, then ASCII", "\xE2\x82<\xF0\x9F\x98", R R "&lt;" R R R, R R "&lt;" R R R,
     "\"" R R "<" R R R "\""},
    {"stray continuation and lead bytes", "\x80\xBF\xF8\xFF", R R R R, R R R R, "\"" R R R R "\""},
    {"characters XML forbids", "\xEF\xBF\xBE\xEF\xBF\xBF", R R, R R,
     "\"\xEF\xBF\xBE\xEF\xBF\xBF\""},
};

TEST(RecordText, EscapesMarkupAndReplacesWhatDoesNotDecode) {
    for (const Case& c : kCases) {
        EXPECT_EQ(c.xmlText, bw_record::xmlEscaped(c.bytes, false)) << c.what;
        EXPECT_EQ(c.xmlAttribute, bw_record::xmlEscaped(c.bytes, true)) << c.what;
        EXPECT_EQ(c.json, bw_record::jsonQuoted(c.bytes)) << c.what;
    }
}

#undef R

}  // namespace

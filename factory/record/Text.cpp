// UTF-8 is decoded strictly (no overlong forms, no surrogates), one U+FFFD per bad byte.
// Logs are mostly plain ASCII: runs of bytes that stay as they are are copied whole, and a
// well-formed character that stays is copied as its own bytes (the same ones re-encoding it
// would give).
#include "record/Text.hpp"

#include <array>
#include <cstdio>

namespace bw_record {

namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr char kReplacementBytes[] = "\xEF\xBF\xBD";

// The ASCII bytes a format passes through as they are.
using PlainBytes = std::array<bool, 128>;

constexpr PlainBytes plainBytes(const char* escaped, bool keepTabAndLineFeed) {
    PlainBytes plain{};
    for (unsigned c = 0x20; c < 0x80; ++c) {
        plain[c] = true;
    }
    plain['\t'] = plain['\n'] = keepTabAndLineFeed;
    for (const char* c = escaped; *c != '\0'; ++c) {
        plain[static_cast<unsigned char>(*c)] = false;
    }
    return plain;
}

constexpr PlainBytes kXmlText = plainBytes("&<>", true);
constexpr PlainBytes kXmlAttribute = plainBytes("&<>\"", false);
constexpr PlainBytes kJson = plainBytes("\"\\", false);

// Where the run of plain bytes from `i` ends. Every turn is alike; the fuzz build leaves
// this loop without coverage hooks.
std::size_t plainRunEnd(const std::string& bytes, std::size_t i, const PlainBytes& plain) {
    const std::size_t size = bytes.size();
    const char* data = bytes.data();
    while (i < size) {
        const auto c = static_cast<unsigned char>(data[i]);
        if (c >= 0x80 || !plain[c]) {
            break;
        }
        ++i;
    }
    return i;
}

struct CodePoint {
    char32_t value;
    std::size_t length;  // bytes taken; 1 for a bad byte, which reads as U+FFFD
};

CodePoint codePointAt(const std::string& bytes, std::size_t i) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    std::size_t length = 1;
    char32_t point = lead;
    char32_t least = 0;
    if (lead >= 0xF0 && lead < 0xF8) {
        length = 4, point = lead & 0x07U, least = 0x10000;
    } else if (lead >= 0xE0 && lead < 0xF0) {
        length = 3, point = lead & 0x0FU, least = 0x800;
    } else if (lead >= 0xC0 && lead < 0xE0) {
        length = 2, point = lead & 0x1FU, least = 0x80;
    } else if (lead >= 0x80) {
        length = 0;
    }
    std::size_t k = 1;
    for (; k < length && i + k < bytes.size(); ++k) {
        const auto next = static_cast<unsigned char>(bytes[i + k]);
        if ((next & 0xC0U) != 0x80U) {
            break;
        }
        point = point << 6 | (next & 0x3FU);
    }
    if (length == 0 || k < length || point < least || point > 0x10FFFF ||
        (point >= 0xD800 && point <= 0xDFFF)) {
        return {kReplacement, 1};
    }
    return {point, length};
}

bool allowedInXml(char32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
           (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

// A character outside the plain runs, well-formed or U+FFFD, copied as its UTF-8 bytes.
void appendCharacter(std::string& out, const std::string& bytes, std::size_t i, CodePoint c) {
    if (c.value == kReplacement && c.length == 1) {
        out += kReplacementBytes;
        return;
    }
    out.append(bytes, i, c.length);
}

}  // namespace

void appendXmlEscaped(std::string& out, const std::string& bytes, bool attribute) {
    const PlainBytes& plain = attribute ? kXmlAttribute : kXmlText;
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t runEnd = plainRunEnd(bytes, i, plain);
        out.append(bytes, i, runEnd - i);
        if (runEnd == bytes.size()) {
            break;
        }
        i = runEnd;
        const CodePoint c = codePointAt(bytes, i);
        switch (c.value) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";  // only attributes escape it
                break;
            case '\r':
                out += "&#13;";  // a reader turns a bare CR into a line feed
                break;
            case '\n':
                out += "&#10;";  // only attributes escape it
                break;
            case '\t':
                out += "&#9;";  // only attributes escape it
                break;
            default:
                if (allowedInXml(c.value)) {
                    appendCharacter(out, bytes, i, c);
                } else {
                    out += kReplacementBytes;
                }
        }
        i += c.length;
    }
}

void appendJsonQuoted(std::string& out, const std::string& bytes) {
    out += '"';
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t runEnd = plainRunEnd(bytes, i, kJson);
        out.append(bytes, i, runEnd - i);
        if (runEnd == bytes.size()) {
            break;
        }
        i = runEnd;
        const CodePoint c = codePointAt(bytes, i);
        if (c.value == '"' || c.value == '\\') {
            out += '\\';
            out += static_cast<char>(c.value);
        } else if (c.value == '\n') {
            out += "\\n";
        } else if (c.value < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c.value));
            out += escaped;
        } else {
            appendCharacter(out, bytes, i, c);
        }
        i += c.length;
    }
    out += '"';
}

std::string xmlEscaped(const std::string& bytes, bool attribute) {
    std::string out;
    out.reserve(bytes.size());
    appendXmlEscaped(out, bytes, attribute);
    return out;
}

std::string jsonQuoted(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size() + 2);
    appendJsonQuoted(out, bytes);
    return out;
}

}  // namespace bw_record

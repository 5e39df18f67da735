// UTF-8 is decoded strictly (no overlong forms, no surrogates), one U+FFFD per bad byte.
#include "record/Text.hpp"

#include <cstdio>

namespace bw_record {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

std::u32string codePoints(const std::string& bytes) {
    std::u32string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
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
            out += kReplacement;
            ++i;
            continue;
        }
        out += point;
        i += length;
    }
    return out;
}

void appendUtf8(std::string& out, char32_t point) {
    if (point < 0x80) {
        out += static_cast<char>(point);
        return;
    }
    if (point < 0x800) {
        out += static_cast<char>(0xC0 | point >> 6);
    } else {
        if (point < 0x10000) {
            out += static_cast<char>(0xE0 | point >> 12);
        } else {
            out += static_cast<char>(0xF0 | point >> 18);
            out += static_cast<char>(0x80 | (point >> 12 & 0x3F));
        }
        out += static_cast<char>(0x80 | (point >> 6 & 0x3F));
    }
    out += static_cast<char>(0x80 | (point & 0x3F));
}

bool allowedInXml(char32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
           (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

}  // namespace

std::string xmlEscaped(const std::string& bytes, bool attribute) {
    std::string out;
    for (char32_t c : codePoints(bytes)) {
        switch (c) {
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
                out += attribute ? "&quot;" : "\"";
                break;
            case '\r':
                out += "&#13;";  // a reader turns a bare CR into a line feed
                break;
            case '\n':
            case '\t':
                out += attribute ? (c == '\n' ? "&#10;" : "&#9;")
                                 : std::string(1, static_cast<char>(c));
                break;
            default:
                appendUtf8(out, allowedInXml(c) ? c : kReplacement);
        }
    }
    return out;
}

std::string jsonQuoted(const std::string& bytes) {
    std::string out = "\"";
    for (char32_t c : codePoints(bytes)) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            out += escaped;
        } else {
            appendUtf8(out, c);
        }
    }
    return out + "\"";
}

}  // namespace bw_record

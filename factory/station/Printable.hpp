// Console text bound for the operator's terminal: control bytes shown as '?', so that no
// escape sequence from a console reaches it.
#pragma once

#include <string>

namespace bw_station {

inline std::string printable(const std::string& text, std::size_t width = std::string::npos) {
    std::string out = text.substr(0, width);
    for (char& c : out) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            c = '?';
        }
    }
    return out;
}

}  // namespace bw_station

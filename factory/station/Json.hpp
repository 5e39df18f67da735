// The few pieces the station's JSON documents are made of; console text goes through
// quoted() alone.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "record/Text.hpp"

namespace bw_station {

inline std::string quoted(const std::string& text) {
    return bw_record::jsonQuoted(text);
}

inline std::string quotedOrNull(const std::optional<std::string>& text) {
    return text ? quoted(*text) : "null";
}

inline std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

inline std::string number(std::int64_t value) {
    return std::to_string(value);
}

}  // namespace bw_station

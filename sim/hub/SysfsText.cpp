// Parsing written text the way the kernel's attribute stores do.
#include "hub/SysfsText.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace bw_sim {

namespace {

std::string withoutOneLineFeed(const std::string& text) {
    if (!text.empty() && text.back() == '\n') {
        return text.substr(0, text.size() - 1);
    }
    return text;
}

}  // namespace

bool sysfsEquals(const std::string& written, const char* word) {
    return withoutOneLineFeed(written) == word;
}

bool parseKernelLong(const std::string& written, long& value) {
    const std::string text = withoutOneLineFeed(written);
    if (text.empty() || text.find('\0') != std::string::npos) {
        return false;
    }
    std::size_t start = 0;
    if (text[0] == '+' || text[0] == '-') {
        start = 1;
    }
    // strtol would also skip blanks, which the kernel refuses.
    if (start >= text.size() || std::strchr("0123456789", text[start]) == nullptr) {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    const long parsed = std::strtol(text.c_str(), &end, 0);
    if (errno != 0 || end == nullptr || *end != '\0') {
        return false;
    }
    value = parsed;
    return true;
}

}  // namespace bw_sim

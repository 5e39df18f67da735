// Trimming of one-line system files and the centred report banner.
#include "util/StringUtil.hpp"

#include <cctype>

namespace bw_selftest {

void trimRight(std::string& text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())) != 0) {
        text.pop_back();
    }
}

std::string center(TemporaryStringView text, char fill, std::size_t width) {
    const std::size_t size = text.size();
    if (size + 2 >= width) {
        return text.toString();
    }
    const std::size_t pos = width / 2 - (size + 1) / 2;
    std::string line(width, fill);
    line.replace(pos, size, text.data(), size);
    line[pos - 1] = ' ';
    line[pos + size] = ' ';
    return line;
}

}  // namespace bw_selftest

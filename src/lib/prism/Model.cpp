// Reading the model file and the board revision.
#include "lib/prism/Model.hpp"

#include <fstream>
#include <utility>

namespace bw_selftest {

bool readFirstLine(const char* path, std::string& line) {
    std::ifstream in(path);
    if (!in.is_open()) {
        return false;
    }
    std::string read;
    std::getline(in, read);
    in.close();
    if (in.fail()) {
        return false;
    }
    line = std::move(read);
    return true;
}

std::string readModelId() {
    std::string id;
    if (!readFirstLine(kModelFilePath, id)) {
        id = kFallbackModelId;
    }
    return id;
}

std::string readBoardRevision() {
    std::ifstream in("/proc/cpuinfo");
    if (!in.is_open()) {
        return {};
    }
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, 8, "Revision") != 0) {
            continue;
        }
        const std::size_t separator = line.rfind(": ");
        if (separator == std::string::npos) {
            return {};
        }
        return line.substr(separator + 2);
    }
    return {};
}

}  // namespace bw_selftest

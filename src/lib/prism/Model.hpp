// The hub model: read from the model file, which alone decides what hardware there is.
#pragma once

#include <string>

namespace bw_selftest {

enum class Model : int {
    unsupported = 0,
    prism_1v1_eu = 1,
    prism_1v0_eu = 2,
    prism_1v0_1_eu = 3,
    crate_1v0_b_eu = 4,
    prism_1v1_eu_proto_1 = 5,
    prism_1v1_eu_proto_2 = 6,
};

// The prism hubs carry the three front LEDs; the crate has none.
constexpr bool hasFrontLeds(Model model) {
    switch (model) {
        case Model::prism_1v1_eu:
        case Model::prism_1v0_eu:
        case Model::prism_1v0_1_eu:
        case Model::prism_1v1_eu_proto_1:
        case Model::prism_1v1_eu_proto_2:
            return true;
        case Model::unsupported:
        case Model::crate_1v0_b_eu:
            break;
    }
    return false;
}

// The crate hub is powered off once it has passed, the others stay up.
constexpr bool powersOffAfterPass(Model model) {
    return model == Model::crate_1v0_b_eu;
}

constexpr const char* kModelFilePath = "/usr/local/share/brambleway/corenode.model";
// Stands in for the id when the model file cannot be read; no model has it.
constexpr const char* kFallbackModelId = "prism-tmp-v1-eu";

// The first line of a text file, without its line feed (a CR stays). False, and `line`
// untouched, when the file cannot be opened, is empty, or fails to read or close.
bool readFirstLine(const char* path, std::string& line);

// The first line of the model file, or the fallback id. Never fails, never prints.
std::string readModelId();

// The text after the last ": " of the first "Revision" line of /proc/cpuinfo, or "".
std::string readBoardRevision();

}  // namespace bw_selftest

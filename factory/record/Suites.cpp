// Mirrors the program's suite table; a log is read against the suite of its model line.
#include "record/Suites.hpp"

namespace bw_record {

namespace {

constexpr unsigned kBannerWidth = 80;
const char* const kCrate = "crate-1v0-b-eu";

}  // namespace

std::vector<std::string> suiteOf(const std::string& modelId) {
    if (modelId == "prism-1v0-eu") {
        return {"Wifi", "Ethernet", "EnOcean", "RTC", "Z-Wave"};
    }
    if (modelId == "prism-1v0-1-eu") {
        return {"Ethernet", "EnOcean", "RTC", "Z-Wave"};
    }
    if (modelId == "prism-1v1-eu" || modelId == "prism-1v1-eu-proto-1" ||
        modelId == "prism-1v1-eu-proto-2") {
        return {"Ethernet", "RTC", "Z-Wave", "Zigbee"};
    }
    if (modelId == kCrate) {
        return {"Ethernet", "Z-Wave"};
    }
    return {};
}

bool powersOff(const std::string& modelId) {
    return modelId == kCrate;
}

std::string bannerOf(const std::string& name) {
    if (name.size() + 2 >= kBannerWidth) {
        return name;
    }
    const std::size_t pos = kBannerWidth / 2 - (name.size() + 1) / 2;
    std::string banner(kBannerWidth, '=');
    banner.replace(pos, name.size(), name);
    banner[pos - 1] = ' ';
    banner[pos + name.size()] = ' ';
    return banner;
}

}  // namespace bw_record

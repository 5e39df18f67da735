// The program's own suite table, read through the program's libraries: a log is read
// against the suite of its model line, so the two can never disagree.
#include "record/Suites.hpp"

#include "setup/Setup.hpp"
#include "setup/tests.hpp"

namespace bw_record {

namespace {

constexpr unsigned kBannerWidth = 80;

}  // namespace

std::vector<std::string> suiteOf(const std::string& modelId) {
    std::vector<std::string> names;
    // Building the suite only allocates; nothing touches this machine.
    for (const auto& test : bw_selftest::makeTests(bw_selftest::parseModel(modelId))) {
        names.emplace_back(test->name().data(), test->name().size());
    }
    return names;
}

bool powersOff(const std::string& modelId) {
    return bw_selftest::powersOffAfterPass(bw_selftest::parseModel(modelId));
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

// The program's own suite table, read through the program's libraries: a log is read
// against the suite of its model line, so the two can never disagree.
#include "record/Suites.hpp"

#include <map>
#include <mutex>
#include <utility>

#include "setup/Setup.hpp"
#include "setup/tests.hpp"

namespace bw_record {

namespace {

constexpr unsigned kBannerWidth = 80;

// The test's banner line: its name centred in 80 "=", or the bare name when too long.
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

}  // namespace

const std::vector<std::string>& suiteOf(const std::string& modelId) {
    // Building a suite makes every test of it, so each model's names are made once: a log
    // is read against its suite more than once, and a station reads many logs. Entries are
    // never dropped, so a reference stays good; the station reads on several threads.
    static std::mutex mutex;
    static std::map<bw_selftest::Model, std::vector<std::string>> suites;
    const bw_selftest::Model model = bw_selftest::parseModel(modelId);
    const std::lock_guard<std::mutex> lock(mutex);
    const auto known = suites.find(model);
    if (known != suites.end()) {
        return known->second;
    }
    std::vector<std::string> names;
    for (const auto& test : bw_selftest::makeTests(model)) {
        names.emplace_back(test->name().data(), test->name().size());
    }
    return suites.emplace(model, std::move(names)).first->second;
}

bool powersOff(const std::string& modelId) {
    return bw_selftest::powersOffAfterPass(bw_selftest::parseModel(modelId));
}

const std::string& bannerLine(const std::string& name) {
    // Names come from the suite tables, so the table stays as small as they are. Entries are
    // never dropped, so a reference stays good.
    static std::mutex mutex;
    static std::map<std::string, std::string> lines;
    const std::lock_guard<std::mutex> lock(mutex);
    const auto known = lines.find(name);
    if (known != lines.end()) {
        return known->second;
    }
    return lines.emplace(name, "\n\n" + bannerOf(name) + "\n").first->second;
}

}  // namespace bw_record

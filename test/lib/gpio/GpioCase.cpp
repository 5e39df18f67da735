// Runs one row of the GPIO and LED tables in its own hub.
#include "GpioCase.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <regex>
#include <sstream>

#include "hub/Hub.hpp"
#include "support/Capture.hpp"

namespace bw_test {

namespace {

std::string writesOf(const std::vector<bw_sim::GpioWrite>& timeline) {
    std::string text;
    for (std::size_t i = 0, end = 0; i < timeline.size(); i = end) {
        const bw_sim::GpioWrite& write = timeline[i];
        text += (text.empty() ? "" : ", ") + write.file + " " + write.data;
        auto shortestGap = std::chrono::microseconds::max();
        for (end = i + 1;
             write.error != 0 && end < timeline.size() && timeline[end].file == write.file &&
             timeline[end].data == write.data && timeline[end].error == write.error;
             ++end) {
            shortestGap = std::min(shortestGap, timeline[end].at - timeline[end - 1].at);
        }
        if (write.error != 0) {
            text += std::string(" !") + ::strerrorname_np(write.error) + " ×";
            text += std::to_string(end - i);
            EXPECT_GE(shortestGap.count(), 7000) << "retries of " << write.file;
        }
    }
    return text;
}

}  // namespace

void runGpioCase(const GpioCase& row) {
    bw_sim::runInHub(row.scenario, [&](bw_sim::Hub& hub) {
        std::string said;
        const Captured printed = capture([&] { said = row.act(); });
        std::string text = said + "; " + writesOf(hub.gpio().timeline()) + ";";
        for (unsigned gpio : {11U, 12U, 13U}) {
            const bw_sim::GpioLine line = hub.gpio().line(gpio);
            text += line.exported ? " " + line.direction + std::to_string(line.value) : " -";
        }
        text += ";";
        std::istringstream errors(printed.err);
        for (std::string line; std::getline(errors, line);) {
            text += " " +
                    (line.rfind(errorPrefix(), 0) == 0 ? line.substr(errorPrefix().size()) : line);
        }
        EXPECT_TRUE(std::regex_match(text, std::regex(row.expected)))
            << row.name << "\n  actual: " << text << "\nexpected: " << row.expected;
        EXPECT_EQ("", printed.out) << row.name;
    });
}

}  // namespace bw_test

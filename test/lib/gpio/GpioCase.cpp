// Runs one row of the GPIO and LED tables in its own hub.
#include "GpioCase.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "hub/Hub.hpp"
#include "support/Capture.hpp"

namespace bw_test {

namespace {

constexpr long kRetryStepUs = 7000;

std::vector<std::string> collapsedWrites(const std::vector<bw_sim::GpioWrite>& timeline,
                                         const GpioCase& row) {
    std::vector<std::string> writes;
    for (std::size_t i = 0; i < timeline.size();) {
        const bw_sim::GpioWrite& write = timeline[i];
        std::string text = write.file + " " + write.data;
        std::size_t end = i + 1;
        if (write.error != 0) {
            text += std::string(" !") + ::strerrorname_np(write.error) + " ×";
            auto shortestGap = std::chrono::microseconds::max();
            while (end < timeline.size() && timeline[end].file == write.file &&
                   timeline[end].data == write.data && timeline[end].error == write.error) {
                shortestGap = std::min(shortestGap, timeline[end].at - timeline[end - 1].at);
                ++end;
            }
            EXPECT_GE(shortestGap.count(), kRetryStepUs) << text;
            EXPECT_LE(row.minRepeats, end - i) << text;
            EXPECT_GE(row.maxRepeats, end - i) << text;
        }
        writes.push_back(text);
        i = end;
    }
    return writes;
}

std::string linesOf(const bw_sim::GpioFs& gpio) {
    std::string text;
    for (unsigned number : {11U, 12U, 13U}) {
        const bw_sim::GpioLine line = gpio.line(number);
        text += text.empty() ? "" : ", ";
        text += line.exported ? line.direction + " " + std::to_string(line.value) : "-";
    }
    return text;
}

}  // namespace

void runGpioCase(const GpioCase& row) {
    bw_sim::runInHub(row.scenario, [&](bw_sim::Hub& hub) {
        SCOPED_TRACE(row.name);
        std::string said;
        const Captured printed = capture([&] { said = row.act(); });
        EXPECT_EQ(row.said, said);
        EXPECT_EQ("", printed.out);
        std::string errors;
        for (const std::string& line : row.errors) {
            errors += errorPrefix() + line + "\n";
        }
        EXPECT_EQ(errors, printed.err);
        EXPECT_EQ(row.writes, collapsedWrites(hub.gpio().timeline(), row));
        EXPECT_EQ(row.linesAfter, linesOf(hub.gpio()));
    });
}

}  // namespace bw_test

// What the external-tool tests share: waiting for the radio's device entry and running the
// maker's tool with retries.
#pragma once

#include <cstdint>

#include "util/await_file.hpp"
#include "util/run.hpp"

namespace bw_selftest {
namespace Tests {

// The waits for the device entries and the pause between runs of a tool.
struct ToolTiming {
    int waitAttempts = kFileWaitAttempts;
    std::int64_t waitTimeoutMs = kFileWaitTimeoutMs;
    int retryDelaySeconds = kRetryDelaySeconds;
};

// Waits for /dev/brambleway, then for `entry` in it. The outcomes are only narrated: the
// tool runs anyway and decides.
void awaitRadioEntry(const char* entry, const ToolTiming& timing);

// The tool's command line, run again up to kRetries times after a failure.
[[nodiscard]] bool runTool(const char* command, const ToolTiming& timing);

}  // namespace Tests
}  // namespace bw_selftest

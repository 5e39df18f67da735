// The device waits and tool runs of the external-tool tests.
#include "Tests/radio_tool.hpp"

namespace bw_selftest {
namespace Tests {

void awaitRadioEntry(const char* entry, const ToolTiming& timing) {
    // The directory must exist before it can be watched for the entry. Neither outcome
    // stops the test: the tool finds out for itself.
    (void)waitForFileWithin("/dev", TemporaryCStringView("brambleway"), timing.waitAttempts,
                            timing.waitTimeoutMs);
    (void)waitForFileWithin("/dev/brambleway", TemporaryCStringView(entry), timing.waitAttempts,
                            timing.waitTimeoutMs);
}

bool runTool(const char* command, const ToolTiming& timing) {
    return runCommandWithRetries(command, timing.retryDelaySeconds, kRetries);
}

}  // namespace Tests
}  // namespace bw_selftest

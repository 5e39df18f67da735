// The run's verdict as the factory record would give it, for bw-hub's last line and,
// on request, its exit status.
#pragma once

#include <string>

namespace bw_sim::tool {

// The exit statuses --verdict-status gives; 1, 2 and 3 stay the tool's own failures.
enum VerdictStatus : int {
    kVerdictPassed = 0,
    kVerdictFailed = 4,
    kVerdictNormalBoot = 5,
    kVerdictUnsupported = 6,
    kVerdictIncomplete = 7,
};

struct HubVerdict {
    std::string line;  // "verdict: failed (1 test failed)", no line feed
    int status = kVerdictIncomplete;
};

// Reads the program's standard output as the record tool does.
HubVerdict verdictOf(const std::string& standardOutput);

}  // namespace bw_sim::tool

// The patterns the front LEDs show and what each tells whoever looks at the hub. The one
// table: the program sets them from here, and the hub's test tooling reads them from here.
#pragma once

namespace bw_selftest {

struct LedPattern {
    bool first;
    bool second;
    bool third;
    const char* meaning;
};

constexpr LedPattern kTestingPattern = {false, false, true, "testing"};
// Shown from the first failure on, while the remaining tests run, and at the end.
constexpr LedPattern kFailedPattern = {true, false, false, "failed"};
constexpr LedPattern kPassedPattern = {false, true, false, "passed"};
constexpr LedPattern kNormalBootPattern = {true, true, true, "normal boot"};

constexpr LedPattern kLedPatterns[] = {kTestingPattern, kFailedPattern, kPassedPattern,
                                       kNormalBootPattern};

}  // namespace bw_selftest

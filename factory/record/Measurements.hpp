// The values the hardware tests' narration states, read from a record's test texts.
#pragma once

#include <string>
#include <vector>

#include "record/Record.hpp"

namespace bw_record {

// Fills the unit's identity and each test's measurements from the tests already read.
void measure(RunRecord& record);

// A run's start as the command line gives it (2026-12-08T13:58:03[.123][Z|+01:00], no zone
// meaning UTC) in whole seconds since the epoch; false when it is no valid time.
bool startSeconds(const std::string& start, long long& seconds);

// The test's measurements, and with a valid `start` the clock's offset from it after the
// clock's reading.
std::vector<Measurement> measurementsAt(const Section& test, const std::string& start);

}  // namespace bw_record

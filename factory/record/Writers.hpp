// The two record formats of one run.
#pragma once

#include <string>

#include "record/Record.hpp"

namespace bw_record {

// What the records name themselves by, so that the tool knows its own files.
inline const char* const kJsonFormat = "bw-selftest-record";
inline const char* const kJunitName = "bw-selftest-record";

// `start` is the run's start as given on the command line, or empty.
std::string junitRecord(const RunRecord& record, const std::string& start);
std::string jsonRecord(const RunRecord& record, const std::string& start);

}  // namespace bw_record

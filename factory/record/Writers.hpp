// The two record formats of one run.
#pragma once

#include <string>

#include "record/Record.hpp"

namespace bw_record {

// `start` is the run's start as given on the command line, or empty.
std::string junitRecord(const RunRecord& record, const std::string& start);
std::string jsonRecord(const RunRecord& record, const std::string& start);

}  // namespace bw_record

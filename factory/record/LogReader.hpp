// Reads one run's standard output, exactly as the program wrote it (a file, a serial-console
// capture or the unit's journal), into the facts of the run.
#pragma once

#include <string>

#include "record/Record.hpp"

namespace bw_record {

// Never fails: a log that ends early or strays from what a run prints gives an incomplete
// record that says where.
RunRecord readLog(std::string log);

}  // namespace bw_record

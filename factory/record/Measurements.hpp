// The values the hardware tests' narration states, read from a record's test texts.
#pragma once

#include "record/Record.hpp"

namespace bw_record {

// Fills the unit's identity from the tests already read.
void measure(RunRecord& record);

}  // namespace bw_record

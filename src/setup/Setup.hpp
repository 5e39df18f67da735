// Run control around the tests: the model table, and the final wait.
#pragma once

#include "lib/prism/Model.hpp"
#include "lib/util/StringView.hpp"

namespace bw_selftest {

// The model with exactly this id (same length, same bytes), else Model::unsupported.
Model parseModel(TemporaryStringView id);

// Prints: corenode.model = "<id>"
void printModelLine(TemporaryStringView id);

// Prints the not-supported line; true when the model is supported.
bool checkModelSupported(Model model);

// Blocks in pause() for ever; a terminating signal ends the process.
[[noreturn]] void awaitTermination();

}  // namespace bw_selftest

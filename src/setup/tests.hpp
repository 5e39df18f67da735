// The test suite of each hub model.
#pragma once

#include <memory>
#include <vector>

#include "Tests/Test.hpp"
#include "lib/prism/Model.hpp"

namespace bw_selftest {

// The model's tests in run order; empty for a model without a suite. Building the suite
// only allocates: no test touches the hardware before its run.
std::vector<std::unique_ptr<Test>> makeTests(Model model);

}  // namespace bw_selftest

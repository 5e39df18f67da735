// The first-boot run: prepare, run the model's suite with a framed report, provision.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Tests/Test.hpp"
#include "lib/prism/Model.hpp"
#include "lib/prism/leds.hpp"

namespace bw_selftest {

// The line that closes every test's report: 80 "=".
extern const std::string separator;

using Suite = std::vector<std::unique_ptr<Test>>;

// Hooks and service stop, the model's suite with LED progress and the report, then, only if
// everything passed, provisioning and the normal-boot preparation. The LEDs end in the
// passed or failed pattern, the failed one also when an exception ends the run (it goes on to
// the caller); a passed crate hub is powered off.
void performTest(LEDs& leds, Model model);

// performTest with the suite made by `makeSuite`, so that tests can run suites of their own.
void performTestWith(LEDs& leds, Model model, Suite (*makeSuite)(Model));

}  // namespace bw_selftest

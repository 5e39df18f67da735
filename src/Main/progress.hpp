// The LED patterns of a self-test run: one before each test, one at the end.
#pragma once

#include "lib/prism/leds.hpp"

namespace bw_selftest {

// Third LED alone while nothing has failed, first LED alone once something has. True when
// all three writes succeeded.
bool showProgress(LEDs& leds, unsigned failedSoFar);

// Second LED alone for a pass, first LED alone for a failure. True as above.
bool showResult(LEDs& leds, bool passed);

}  // namespace bw_selftest

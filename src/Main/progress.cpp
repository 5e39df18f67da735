// The LED patterns of a self-test run.
#include "Main/progress.hpp"

namespace bw_selftest {

bool showProgress(LEDs& leds, unsigned failedSoFar) {
    return leds.show(failedSoFar == 0 ? kTestingPattern : kFailedPattern);
}

bool showResult(LEDs& leds, bool passed) {
    return leds.show(passed ? kPassedPattern : kFailedPattern);
}

}  // namespace bw_selftest

// The LED patterns of a self-test run.
#include "Main/progress.hpp"

namespace bw_selftest {

bool showProgress(LEDs& leds, unsigned failedSoFar) {
    if (failedSoFar == 0) {
        return leds.set(false, false, true);
    }
    return leds.set(true, false, false);
}

bool showResult(LEDs& leds, bool passed) {
    if (passed) {
        return leds.set(false, true, false);
    }
    return leds.set(true, false, false);
}

}  // namespace bw_selftest

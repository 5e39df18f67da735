// The LED pattern of an ordinary boot.
#include "Main/perform_normal_boot.hpp"

namespace bw_selftest {

void performNormalBoot(LEDs& leds, Model model) {
    if (hasFrontLeds(model)) {
        // Nobody could act on a dark LED here; the hub boots on regardless.
        (void)leds.show(kNormalBootPattern);
    }
}

}  // namespace bw_selftest

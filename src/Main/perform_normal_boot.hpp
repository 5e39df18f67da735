// The LED pattern of an ordinary boot, on a hub that has passed its self-test.
#pragma once

#include "lib/prism/Model.hpp"
#include "lib/prism/leds.hpp"

namespace bw_selftest {

// All three LEDs on, on the prism models; nothing at all on any other model.
void performNormalBoot(LEDs& leds, Model model);

}  // namespace bw_selftest

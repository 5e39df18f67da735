// The LED pattern of an ordinary boot.
#include "Main/perform_normal_boot.hpp"

namespace bw_selftest {

namespace {

bool hasFrontLeds(Model model) {
    switch (model) {
        case Model::prism_1v1_eu:
        case Model::prism_1v0_eu:
        case Model::prism_1v0_1_eu:
        case Model::prism_1v1_eu_proto_1:
        case Model::prism_1v1_eu_proto_2:
            return true;
        case Model::unsupported:
        case Model::crate_1v0_b_eu:
            break;
    }
    return false;
}

}  // namespace

void performNormalBoot(LEDs& leds, Model model) {
    if (hasFrontLeds(model)) {
        // Nobody could act on a dark LED here; the hub boots on regardless.
        (void)leds.set(true, true, true);
    }
}

}  // namespace bw_selftest

// The program's run sequence, and the guard that keeps the program waiting whatever happens.
#include "Main/entry.hpp"

#include <exception>
#include <iostream>
#include <string>

#include "Main/perform_normal_boot.hpp"
#include "Main/perform_test.hpp"
#include "lib/prism/Model.hpp"
#include "setup/Setup.hpp"
#include "util/run.hpp"

namespace bw_selftest {

namespace {

constexpr const char* kUnexpectedError = "bw-selftest: unexpected error: ";

}  // namespace

void runSequence() {
    const std::string id = readModelId();
    printModelLine(id);
    const Model model = parseModel(id);
    if (!checkModelSupported(model)) {
        return;
    }
    LEDs leds = makeLEDs(model);
    // The GPIOs stay exported after the object is gone, so the last pattern stays lit.
    leds.first.release();
    leds.second.release();
    leds.third.release();
    // A marker that cannot be checked counts as absent: the hub boots normally.
    if (checkExists(kFirstBootMarker)) {
        performTest(leds, model);
    } else {
        performNormalBoot(leds, model);
    }
}

void runCatchingAll(void (*run)()) {
    // Ending here would make the supervisor start the program again at once, and the hub
    // would loop through its tests.
    try {
        run();
    } catch (const std::exception& error) {
        std::cerr << kUnexpectedError << error.what() << std::endl;
    } catch (...) {
        std::cerr << kUnexpectedError << "unknown exception" << std::endl;
    }
}

}  // namespace bw_selftest

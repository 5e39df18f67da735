// The three front LEDs.
#include "lib/prism/leds.hpp"

namespace bw_selftest {

namespace {

// The LED lines are outputs; the kernel's level is kept until the first pattern is shown.
constexpr bool kOutput = true;
constexpr int kLevelLeftToKernel = -1;
// Long enough for udev to hand over the direction file of a freshly exported line.
constexpr unsigned kPermissionBudgetMs = 100;

}  // namespace

LEDs::LEDs(std::uint32_t firstGpio, std::uint32_t secondGpio, std::uint32_t thirdGpio)
    : first(firstGpio, kOutput, kLevelLeftToKernel, kPermissionBudgetMs),
      second(secondGpio, kOutput, kLevelLeftToKernel, kPermissionBudgetMs),
      third(thirdGpio, kOutput, kLevelLeftToKernel, kPermissionBudgetMs),
      ready(first.isOpen() && second.isOpen() && third.isOpen()) {}

bool LEDs::setFirst(bool on) {
    return first.setValue(on);
}

bool LEDs::setSecond(bool on) {
    return second.setValue(on);
}

bool LEDs::setThird(bool on) {
    return third.setValue(on);
}

bool LEDs::set(bool firstOn, bool secondOn, bool thirdOn) {
    return setFirst(firstOn) && setSecond(secondOn) && setThird(thirdOn);
}

}  // namespace bw_selftest

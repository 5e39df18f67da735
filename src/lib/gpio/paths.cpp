// The sysfs files of the GPIO lines.
#include "lib/gpio/paths.hpp"

namespace bw_selftest {

std::string gpioPath(std::uint32_t gpio, const char* suffix) {
    return "/sys/class/gpio/gpio" + std::to_string(gpio) + suffix;
}

std::string directionPath(std::uint32_t gpio) {
    return gpioPath(gpio, "/direction");
}

std::string valuePath(std::uint32_t gpio) {
    return gpioPath(gpio, "/value");
}

std::string edgePath(std::uint32_t gpio) {
    return gpioPath(gpio, "/edge");
}

}  // namespace bw_selftest

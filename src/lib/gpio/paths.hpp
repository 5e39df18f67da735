// The sysfs files of the GPIO lines.
#pragma once

#include <cstdint>
#include <string>

namespace bw_selftest {

inline constexpr const char* exportPath = "/sys/class/gpio/export";
inline constexpr const char* unexportPath = "/sys/class/gpio/unexport";

// "/sys/class/gpio/gpio" + the number in decimal + suffix.
std::string gpioPath(std::uint32_t gpio, const char* suffix);
std::string directionPath(std::uint32_t gpio);
std::string valuePath(std::uint32_t gpio);
std::string edgePath(std::uint32_t gpio);

}  // namespace bw_selftest

// The small real effects of the fake programs, so that a scenario's files change as they
// would on a hub: touch creates, rm and shred remove, chown re-owns, hwclock sets the clock.
#pragma once

#include <string>
#include <vector>

namespace bw_sim {

// Applies the effect of `program` run with `args` (args[0] is the program as given).
// Returns 0, or the exit status of a failure, which the real tool would have reported on
// standard error as this does.
int applyEffect(const std::string& program, const std::vector<std::string>& args);

// Where hwclock -w puts the time, and the device it needs.
constexpr const char* kSinceEpochPath = "/sys/class/rtc/rtc0/since_epoch";
constexpr const char* kRtcDevicePath = "/dev/rtc0";
constexpr const char* kZigbeeDevicePath = "/dev/brambleway/Zigbee";

}  // namespace bw_sim

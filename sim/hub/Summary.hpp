// A short account of what a run did to the hub, for people watching it.
#pragma once

#include <string>

namespace bw_sim {

class Hub;

// The LEDs at the end and their timeline, the commands run with their exit statuses, the
// I2C writes and the files changed.
std::string summarize(const Hub& hub);

}  // namespace bw_sim

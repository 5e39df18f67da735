// Where the hub and its fake programs meet inside the sandbox (its private /tmp).
#pragma once

namespace bw_sim {

constexpr const char* kHubStateDirectory = "/tmp/.bw-hub";
// The scripted outcomes, written by the hub before the program starts.
constexpr const char* kFakeRulesPath = "/tmp/.bw-hub/fakes.rules";
// One entry when a fake starts and one when it ends, appended under a lock.
constexpr const char* kCommandLogPath = "/tmp/.bw-hub/commands.log";

}  // namespace bw_sim

// Finding and ending every process that a sandbox started, however deep it went.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <vector>

namespace bw_sim {

// The processes below `root` in the process tree (from /proc), children before their own.
std::vector<pid_t> descendantsOf(pid_t root);

// Makes orphans of this process's descendants its own children, so that none escapes to
// init while it is ended. Call before starting anything.
void adoptOrphans();

// Kills every descendant of this process with SIGKILL and reaps it. True when none is
// left within `limit`.
bool endDescendants(std::chrono::milliseconds limit = std::chrono::milliseconds(5000));

}  // namespace bw_sim

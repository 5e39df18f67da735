// Internal to the sandbox library: running a test body in a forked child.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

namespace bw_sim::detail {

// Prepares a fresh child (enters a namespace, drops privileges ...): empty, or why not.
using Setup = std::string (*)();

// Forks a child that runs `setup`, then `body` with every assertion intercepted; reports
// the child's failures, a crash, or a hang past `limit` (its process group is killed) in
// the calling test, and reaps everything the child left behind.
void runChild(Setup setup, const std::function<void()>& body, std::chrono::milliseconds limit);

// `what` and the text of errno.
std::string systemError(const std::string& what);
// Writes all of `data`, retrying short writes and EINTR; false on failure.
bool writeAll(int fd, const void* data, std::size_t size);

}  // namespace bw_sim::detail

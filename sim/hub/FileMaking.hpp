// Plain file operations for places the hub has already made writable (its tmpfs mounts).
// Unlike the sandbox's helpers they touch no shared state, so the timer thread may use
// them. Each throws std::runtime_error naming the path when it fails.
#pragma once

#include <sys/types.h>

#include <string>

namespace bw_sim {

// mkdir -p: makes `path` and any missing parents.
void makeDirectories(const std::string& path, mode_t mode = 0755);
// Creates or replaces a file with exactly `content` and `mode`, parents made as needed.
void putFile(const std::string& path, const std::string& content, mode_t mode = 0644);
// Creates a symbolic link at `path` pointing to `target`, parents made as needed.
void putSymlink(const std::string& target, const std::string& path);

}  // namespace bw_sim

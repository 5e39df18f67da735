// A small tree of files kept in memory and served through FUSE: what sysfs attribute
// directories look like to the program under test.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace bw_sim {

// Paths are relative to the mount point, without a leading slash; "" is the root. Every
// operation returns 0 or a positive errno value. Calls come from the FUSE thread, while a
// test reads the state from its own thread: implementations lock what they share.
class VirtualFiles {
  public:
    struct Attributes {
        bool directory = false;
        mode_t permissions = 0;  // the 0777 bits only
    };

    virtual ~VirtualFiles() = default;

    virtual int attributes(const std::string& path, Attributes& out) = 0;
    virtual int list(const std::string& directory, std::vector<std::string>& names) = 0;
    // Called on every open; `handle` travels with the open file to read() and write(), so
    // that a file can tell whether it was opened before its attribute went away.
    virtual int open(const std::string& path, std::uint64_t& handle) = 0;
    // The whole current content; the caller hands out the requested slice.
    virtual int read(const std::string& path, std::uint64_t handle, std::string& content) = 0;
    // One write() call: the whole buffer, whatever the file offset (as sysfs stores do).
    virtual int write(const std::string& path, std::uint64_t handle, const std::string& data) = 0;
};

}  // namespace bw_sim
